#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# logind as far as the session watch asks, and another account, on the bus at argv[1].
# serve: owns org.freedesktop.login1, names the same session to every caller and serves its
# LockedHint and Active (first unlocked and active); prints "ready" once it owns the name.
# set LOCKED ACTIVE (0 or 1): the served session changes, announced as logind announces it.
# forge: tells every connection, and any listener, that the session is locked and away and that
# logind is gone or is this connection; prints "done" once every connection answered a ping.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from dbus.lowlevel import SignalMessage
from gi.repository import GLib

LOGIN = "org.freedesktop.login1"
SESSION = LOGIN + ".Session"
SESSION_PATH = "/org/freedesktop/login1/session/_31"
PROPS = "org.freedesktop.DBus.Properties"


# One object for the manager and the session below it.
class Login(dbus.service.FallbackObject):
    properties = {"LockedHint": False, "Active": True}

    @dbus.service.method(LOGIN + ".Manager", in_signature="s", out_signature="o")
    def GetSession(self, name):
        return dbus.ObjectPath(SESSION_PATH)

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties

    @dbus.service.signal(PROPS, signature="sa{sv}as", rel_path_keyword="rel_path")
    def PropertiesChanged(self, interface, changed, invalidated, rel_path=None):
        pass

    @dbus.service.method("test.LogindStandIn", in_signature="bb")
    def SetState(self, locked, active):
        self.properties = {"LockedHint": locked, "Active": active}
        self.PropertiesChanged(SESSION, self.properties, [], rel_path="/session/_31")


def forge(bus):
    own = bus.get_unique_name()
    names = [name for name in bus.list_names() if name.startswith(":") and name != own]
    for destination in [None] + names:
        for message, arguments, signature in [
                (SignalMessage(SESSION_PATH, PROPS, "PropertiesChanged"),
                 (SESSION, {"LockedHint": True, "Active": False}, []), "sa{sv}as"),
                (SignalMessage("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged"),
                 (LOGIN, "", ""), "sss"),
                (SignalMessage("/org/freedesktop/DBus", "org.freedesktop.DBus", "NameOwnerChanged"),
                 (LOGIN, "", own), "sss")]:
            message.append(*arguments, signature=signature)
            if destination:
                message.set_destination(destination)
            bus.send_message(message)
    for name in names:
        bus.call_blocking(name, "/", "org.freedesktop.DBus.Peer", "Ping", "", ())
    print("done", flush=True)


def main(address, command, *arguments):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    if command == "set":
        flags = [argument == "1" for argument in arguments]
        bus.call_blocking(LOGIN, SESSION_PATH, "test.LogindStandIn", "SetState", "bb", flags)
    elif command == "forge":
        forge(bus)
    else:
        login = Login(bus, "/org/freedesktop/login1")
        name = dbus.service.BusName(LOGIN, bus)
        print("ready", flush=True)
        GLib.MainLoop().run()
        del name, login


main(*sys.argv[1:])
