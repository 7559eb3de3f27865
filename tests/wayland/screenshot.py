#!/usr/bin/python3
"""Saves what a headless compositor shows as a PNG file, taken by the compositor itself.

    screenshot.py mutter FILE   a frame of a screen-cast stream of Mutter's primary monitor,
                                read through PipeWire (org.gnome.Mutter.ScreenCast)
    screenshot.py kwin FILE     KWin's screenshot interface (org.kde.KWin.ScreenShot2), which
                                answers only where KWin allows it (see start_headless_kwin)

Runs on the compositor's session bus (DBUS_SESSION_BUS_ADDRESS) and, for Mutter, its PipeWire
(XDG_RUNTIME_DIR). Exits non-zero, saying why, when no picture comes.
"""

import os
import struct
import subprocess
import sys
import time
import zlib

from gi.repository import Gio, GLib

TIMEOUT_MS = 10000


def session_bus():
    return Gio.DBusConnection.new_for_address_sync(
        os.environ["DBUS_SESSION_BUS_ADDRESS"],
        Gio.DBusConnectionFlags.AUTHENTICATION_CLIENT | Gio.DBusConnectionFlags.MESSAGE_BUS_CONNECTION,
        None, None)


def fail(text):
    print("screenshot: " + text, file=sys.stderr)
    sys.exit(1)


def mutter(path):
    bus = session_bus()
    service = "org.gnome.Mutter.ScreenCast"

    def call(obj, interface, method, args, reply):
        return bus.call_sync(service, obj, interface, method, args,
                             GLib.VariantType(reply) if reply else None, 0, TIMEOUT_MS, None)

    session = call("/org/gnome/Mutter/ScreenCast", service, "CreateSession",
                   GLib.Variant("(a{sv})", ({},)), "(o)")[0]
    # An empty connector records the primary monitor; the cursor is left out by default.
    stream = call(session, service + ".Session", "RecordMonitor",
                  GLib.Variant("(sa{sv})", ("", {})), "(o)")[0]
    nodes = []
    loop = GLib.MainLoop()

    def added(_connection, _sender, _path, _interface, _signal, parameters):
        nodes.append(parameters[0])
        loop.quit()

    bus.signal_subscribe(None, service + ".Stream", "PipeWireStreamAdded", stream, None, 0, added)
    call(session, service + ".Session", "Start", None, None)
    GLib.timeout_add(TIMEOUT_MS, loop.quit)
    loop.run()
    if not nodes:
        fail("Mutter announced no PipeWire stream")
    reader = subprocess.Popen(["gst-launch-1.0", "-q", "pipewiresrc", "path=%d" % nodes[0],
                               "client-name=velmora-screenshot", "num-buffers=1", "!", "videoconvert",
                               "!", "pngenc", "!", "filesink", "location=" + path])
    try:
        # Without a session manager (WirePlumber) nobody links the reader to the stream: we do.
        deadline = time.monotonic() + TIMEOUT_MS / 1000
        while True:
            linked = subprocess.run(["pw-link", "mutter:out_0", "velmora-screenshot:in_0"],
                                    capture_output=True, text=True)
            if linked.returncode == 0 or reader.poll() is not None:
                break
            if time.monotonic() > deadline:
                fail("cannot link the stream to the reader: " + linked.stderr.strip())
            time.sleep(0.1)
        if reader.wait(timeout=TIMEOUT_MS / 1000) != 0:
            fail("the PipeWire reader failed")
    finally:
        if reader.poll() is None:
            reader.kill()
        call(session, service + ".Session", "Stop", None, None)


def write_png(path, width, height, rows):
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n")
        out.write(chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)))
        out.write(chunk(b"IDAT", zlib.compress(b"".join(b"\0" + row for row in rows), 9)))
        out.write(chunk(b"IEND", b""))


def kwin(path):
    bus = session_bus()
    reading, writing = os.pipe()
    # The list holds a copy of the writing end; once the call is sent, only KWin's stays open.
    fds = Gio.UnixFDList.new()
    fds.append(writing)
    os.close(writing)
    reply, _ = bus.call_with_unix_fd_list_sync(
        "org.kde.KWin", "/org/kde/KWin/ScreenShot2", "org.kde.KWin.ScreenShot2", "CaptureActiveScreen",
        GLib.Variant("(a{sv}h)", ({}, 0)), GLib.VariantType("(a{sv})"), 0, TIMEOUT_MS,
        fds, None)
    del fds
    info = reply.unpack()[0]
    pixels = bytearray()
    while True:
        block = os.read(reading, 1 << 20)
        if not block:
            break
        pixels += block
    os.close(reading)
    width, height, stride = info["width"], info["height"], info["stride"]
    # QImage's 32-bit formats (RGB32, ARGB32 and its premultiplied form): B, G, R, A in memory.
    if info.get("format") not in (4, 5, 6) or len(pixels) < stride * height:
        fail("unexpected picture from KWin: %s, %d bytes" % (info, len(pixels)))
    rows = []
    for y in range(height):
        row = pixels[y * stride:y * stride + width * 4]
        rgb = bytearray(width * 3)
        rgb[0::3] = row[2::4]
        rgb[1::3] = row[1::4]
        rgb[2::3] = row[0::4]
        rows.append(bytes(rgb))
    write_png(path, width, height, rows)


if __name__ == "__main__":
    if len(sys.argv) != 3 or sys.argv[1] not in ("mutter", "kwin"):
        fail("usage: screenshot.py mutter|kwin FILE")
    try:
        (mutter if sys.argv[1] == "mutter" else kwin)(sys.argv[2])
    except GLib.Error as error:
        fail(error.message)
