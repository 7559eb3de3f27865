#!/usr/bin/python3
"""Lays out Mutter's monitors as a user's display settings would, through DisplayConfig's
ApplyMonitorsConfig (temporarily): set-monitors.py BUS CONNECTOR:X,Y... keeps the monitors
named, placed there, the first one primary, each in its current (or preferred) mode; the others are turned off.
Uses Debian's python3-gi (hence /usr/bin/python3)."""
import sys

from gi.repository import Gio, GLib

bus = Gio.DBusConnection.new_for_address_sync(
    sys.argv[1], Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
    None, None)


def call(method, args, reply):
    return bus.call_sync("org.gnome.Mutter.DisplayConfig", "/org/gnome/Mutter/DisplayConfig",
                         "org.gnome.Mutter.DisplayConfig", method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


serial, monitors, _, _ = call("GetCurrentState", None, "(ua((ssss)a(siiddada{sv})a{sv})a(iiduba(ssss)a{sv})a{sv})")
# The current mode of each monitor, or the preferred one of a monitor turned off.
current = {}
for (connector, _, _, _), modes, _ in monitors:
    for mode in sorted(modes, key=lambda m: (not m[6].get("is-current"), not m[6].get("is-preferred"))):
        current.setdefault(connector, mode[0])
logical = []
for i, place in enumerate(sys.argv[2:]):
    connector, xy = place.split(":")
    x, y = (int(v) for v in xy.split(","))
    logical.append((x, y, 1.0, 0, i == 0, [(connector, current[connector], {})]))
call("ApplyMonitorsConfig", GLib.Variant("(uua(iiduba(ssa{sv}))a{sv})", (serial, 1, logical, {})), "()")
