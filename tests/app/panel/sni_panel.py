#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""A small StatusNotifierItem panel for tests, on the session bus. Run, it is the watcher and its
host until killed, and prints a line per item registered or unregistered and per menu update
signal; imported, its functions read and drive the registered item."""
import dbus
import dbus.service

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
PROPS = "org.freedesktop.DBus.Properties"

# Qt builds its proxy of the watcher from introspection: it must list the properties.
INTROSPECTION = f"""<node>
 <interface name="{WATCHER}">
  <method name="RegisterStatusNotifierItem"><arg name="service" type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg name="service" type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
 </interface>
</node>"""


def say(*words):
    print(*words, flush=True)


class Watcher(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/StatusNotifierWatcher")
        self.items = []
        bus.add_signal_receiver(self.owner_changed, "NameOwnerChanged", "org.freedesktop.DBus")
        bus.add_signal_receiver(lambda *_, member=None: say(member), dbus_interface=MENU,
                                member_keyword="member")

    @dbus.service.method("org.freedesktop.DBus.Introspectable", out_signature="s")
    def Introspect(self):
        return INTROSPECTION

    @dbus.service.method(WATCHER, in_signature="s", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        # Items register either a bus name or an object path on their own connection.
        name = sender + service if service.startswith("/") else service
        if name not in self.items:
            self.items.append(name)
            say("registered", name)
            self.StatusNotifierItemRegistered(name)

    @dbus.service.method(WATCHER, in_signature="s")
    def RegisterStatusNotifierHost(self, service):
        self.StatusNotifierHostRegistered()

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, name):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, name):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    def owner_changed(self, name, old, new):
        for item in list(self.items):
            if not new and (item == name or item.startswith(name + "/")):
                self.items.remove(item)
                say("unregistered", item)
                self.StatusNotifierItemUnregistered(item)

    @dbus.service.method(PROPS, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.GetAll(interface)[prop]

    @dbus.service.method(PROPS, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(True),
            "ProtocolVersion": dbus.Int32(0),
        }


def watch():
    from dbus.mainloop.glib import DBusGMainLoop
    from gi.repository import GLib

    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    watcher = Watcher(bus)
    name = dbus.service.BusName(WATCHER, bus)
    say("watching")
    GLib.MainLoop().run()
    del watcher, name


def items(bus):
    watcher = bus.get_object(WATCHER, "/StatusNotifierWatcher")
    return [str(item) for item in
            watcher.Get(WATCHER, "RegisteredStatusNotifierItems", dbus_interface=PROPS)]


def first_item(bus):
    registered = items(bus)
    if not registered:
        raise LookupError("no item is registered")
    service, _, path = registered[0].partition("/")
    return bus.get_object(service, "/" + (path or "StatusNotifierItem"))


def props(bus):
    """The item's text properties and ItemIsMenu; ToolTip is its title, IconPixmap the largest
    image as (width, height, ARGB bytes)."""
    values = first_item(bus).GetAll(ITEM, dbus_interface=PROPS)
    found = {name: str(values.get(name, "")) for name in
             ["Title", "Id", "Category", "Status", "IconName", "IconThemePath"]}
    pixmaps = sorted((int(w), int(h), bytes(data)) for w, h, data in values.get("IconPixmap", []))
    return dict(found, ToolTip=str(values["ToolTip"][2]), ItemIsMenu=bool(values["ItemIsMenu"]),
                IconPixmap=pixmaps[-1] if pixmaps else None)


def luminance(rgb):
    """Relative luminance of an sRGB colour, as contrast ratios use it."""
    linear = [c / 255 / 12.92 if c / 255 <= 0.03928 else ((c / 255 + 0.055) / 1.055) ** 2.4
              for c in rgb]
    return 0.2126 * linear[0] + 0.7152 * linear[1] + 0.0722 * linear[2]


def contrast(pixmap, panel, most=10):
    """Contrast of the icon drawn on a panel of colour `panel`: the ratio of its `most`-th most
    distinct pixel, so a few stray edge pixels do not count."""
    width, height, data = pixmap
    ratios = []
    for i in range(0, width * height * 4, 4):
        alpha = data[i] / 255  # network byte order: A, R, G, B
        drawn = [alpha * data[i + 1 + c] + (1 - alpha) * panel[c] for c in range(3)]
        light, dark = sorted([luminance(drawn), luminance(panel)], reverse=True)
        ratios.append((light + 0.05) / (dark + 0.05))
    return sorted(ratios)[-most]


def menu_of(bus):
    item = first_item(bus)
    return bus.get_object(item.bus_name, item.Get(ITEM, "Menu", dbus_interface=PROPS))


def layout(bus):
    """The menu's entries but separators: (id, enabled, label, whether it has an icon)."""
    _, root = menu_of(bus).GetLayout(0, -1, dbus.Array([], signature="s"), dbus_interface=MENU)
    return [(int(ident), bool(values.get("enabled", True)), str(values.get("label", "")),
             len(values.get("icon-data", [])) > 0)
            for ident, values, _ in root[2] if values.get("type") != "separator"]


def click(bus, label):
    ident = next(ident for ident, _, text, _ in layout(bus) if text.startswith(label))
    menu_of(bus).Event(ident, "clicked", dbus.String("", variant_level=1), dbus.UInt32(0),
                       dbus_interface=MENU)


def activate(bus):
    first_item(bus).Activate(0, 0, dbus_interface=ITEM)


if __name__ == "__main__":
    watch()
