#!/usr/bin/python3
# A GTK window holding one multi-line text field with the keyboard focus, on X11 or Wayland
# (GDK_BACKEND). Prints "ready" once shown, then "text <hex of UTF-8>" with the field's whole
# text after every change (after the last of changes that come together).
#   gtk-text-field.py TITLE X Y
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

title, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
window = Gtk.Window(title=title)
window.set_default_size(400, 200)
window.move(x, y)
view = Gtk.TextView()
window.add(view)
buffer = view.get_buffer()


pending = False


def report():
    global pending
    pending = False
    text = buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True)
    print("text " + text.encode().hex(), flush=True)
    return False


# The whole text once the keys that came together are in: a line per key of a long text
# would fill the pipe faster than the test reads it, and hold the field up.
def changed(b):
    global pending
    if not pending:
        pending = True
        GLib.idle_add(report)


buffer.connect("changed", changed)
window.connect("map-event", lambda *args: print("ready", flush=True))
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
Gtk.main()
