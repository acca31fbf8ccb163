#!/usr/bin/python3
# SPDX-License-Identifier: MIT
# The desktop's settings portal as far as the appearance's colour scheme goes, on the bus at
# argv[1]. SCHEME is the portal's value (0 no preference, 1 prefer dark, 2 prefer light) or
# "unset" (the portal has no such setting).
# serve SCHEME [old]: owns org.freedesktop.portal.Desktop and answers ReadOne, or, "old", only
# the Read that came before it; prints "ready" once it owns the name.
# set SCHEME: the served scheme changes, announced as the portal announces it.
import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

PORTAL = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SETTINGS = "org.freedesktop.portal.Settings"
APPEARANCE = "org.freedesktop.appearance"


class Settings(dbus.service.Object):
    def __init__(self, bus, scheme, old):
        super().__init__(bus, PATH)
        self.scheme = scheme
        self.old = old

    def value(self, namespace, key, variants):
        if namespace != APPEARANCE or key != "color-scheme" or self.scheme == "unset":
            raise dbus.DBusException("Requested setting not found",
                                     name="org.freedesktop.portal.Error.NotFound")
        return dbus.UInt32(int(self.scheme), variant_level=variants)

    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def ReadOne(self, namespace, key):
        if self.old:
            raise dbus.DBusException("No such method", name="org.freedesktop.DBus.Error.UnknownMethod")
        return self.value(namespace, key, 1)

    # Wraps the value in one variant more.
    @dbus.service.method(SETTINGS, in_signature="ss", out_signature="v")
    def Read(self, namespace, key):
        return self.value(namespace, key, 2)

    @dbus.service.signal(SETTINGS, signature="ssv")
    def SettingChanged(self, namespace, key, value):
        pass

    @dbus.service.method("test.PortalStandIn", in_signature="s")
    def SetScheme(self, scheme):
        self.scheme = scheme
        self.SettingChanged(APPEARANCE, "color-scheme", self.value(APPEARANCE, "color-scheme", 1))


def main(address, command, scheme, *flags):
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.bus.BusConnection(address)
    if command == "set":
        bus.call_blocking(PORTAL, PATH, "test.PortalStandIn", "SetScheme", "s", (scheme,))
        return
    settings = Settings(bus, scheme, "old" in flags)
    name = dbus.service.BusName(PORTAL, bus)
    print("ready", flush=True)
    GLib.MainLoop().run()
    del name, settings


main(*sys.argv[1:])
