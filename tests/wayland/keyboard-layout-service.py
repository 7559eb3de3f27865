#!/usr/bin/python3
"""Tells a headless Mutter its keyboard layout as a desktop's system does: the X11Layout of
systemd's locale service (org.freedesktop.locale1), which Mutter without GNOME Shell reads at start.
Owns that name on the bus given by DBUS_SYSTEM_BUS_ADDRESS (the test's private bus, never the
machine's) with the layouts in VELMORA_TEST_LAYOUT ("ru,us"), until it is ended. Needs GLib's
Python binding (hence /usr/bin/python3)."""
import os
import sys

from gi.repository import Gio, GLib

XML = """
<node>
  <interface name="org.freedesktop.locale1">
    <property name="X11Layout" type="s" access="read"/>
    <property name="X11Model" type="s" access="read"/>
    <property name="X11Variant" type="s" access="read"/>
    <property name="X11Options" type="s" access="read"/>
    <property name="Locale" type="as" access="read"/>
    <property name="VConsoleKeymap" type="s" access="read"/>
    <property name="VConsoleKeymapToggle" type="s" access="read"/>
  </interface>
</node>
"""

VALUES = {
    "X11Layout": GLib.Variant("s", os.environ.get("VELMORA_TEST_LAYOUT", "us")),
    "X11Model": GLib.Variant("s", ""),
    "X11Variant": GLib.Variant("s", ""),
    "X11Options": GLib.Variant("s", ""),
    "Locale": GLib.Variant("as", ["LANG=C.UTF-8"]),
    "VConsoleKeymap": GLib.Variant("s", ""),
    "VConsoleKeymapToggle": GLib.Variant("s", ""),
}


def get_property(_conn, _sender, _path, _iface, name):
    return VALUES.get(name)


def main():
    address = os.environ.get("DBUS_SYSTEM_BUS_ADDRESS", "")
    if not address:
        print("DBUS_SYSTEM_BUS_ADDRESS is not set: refusing the machine's system bus", file=sys.stderr)
        return 1
    flags = Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION
    bus = Gio.DBusConnection.new_for_address_sync(address, flags, None, None)
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    bus.register_object("/org/freedesktop/locale1", info, None, get_property, None)
    loop = GLib.MainLoop()
    Gio.bus_own_name_on_connection(bus, "org.freedesktop.locale1", Gio.BusNameOwnerFlags.NONE,
                                   lambda *_: print("locale1: owned", flush=True),
                                   lambda *_: loop.quit())
    loop.run()
    return 0


if __name__ == "__main__":
    sys.exit(main())
