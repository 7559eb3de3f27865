#!/usr/bin/python3
# A GTK window holding one multi-line text field with the keyboard focus, on X11 or Wayland
# (GDK_BACKEND). Prints "ready" once shown, then "text <hex of UTF-8>" with the field's whole
# text after every change.
#   gtk-text-field.py TITLE X Y
import sys

import gi

gi.require_version("Gtk", "3.0")
from gi.repository import Gtk  # noqa: E402

title, x, y = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
window = Gtk.Window(title=title)
window.set_default_size(400, 200)
window.move(x, y)
view = Gtk.TextView()
window.add(view)
buffer = view.get_buffer()


def changed(b):
    text = b.get_text(b.get_start_iter(), b.get_end_iter(), True)
    print("text " + text.encode().hex(), flush=True)


buffer.connect("changed", changed)
window.connect("map-event", lambda *args: print("ready", flush=True))
window.connect("destroy", Gtk.main_quit)
window.show_all()
view.grab_focus()
Gtk.main()
