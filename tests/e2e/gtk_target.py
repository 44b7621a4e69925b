#!/usr/bin/python3
# A GTK 3 text view that records what it holds: the toolkit's own key handling (keymap
# refresh, input method, dead keys) is what the tests exercise. Same protocol as the other
# targets: TEXT_FILE gets the whole text after every change, EVENTS_FILE "MAPPED 0x<window>".
# Usage: gtk_target.py TEXT_FILE EVENTS_FILE [TITLE]
import sys

import gi

gi.require_version("Gtk", "3.0")
gi.require_version("GdkX11", "3.0")
from gi.repository import GdkX11, Gtk  # noqa: E402,F401

text_path, events_path = sys.argv[1], sys.argv[2]
window = Gtk.Window(title=sys.argv[3] if len(sys.argv) > 3 else "kq-gtk-target")
window.set_default_size(400, 200)
view = Gtk.TextView()
window.add(view)


def save(buffer):
    with open(text_path, "w", encoding="utf-8") as f:
        f.write(buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))


def mapped(*_):
    view.grab_focus()
    with open(events_path, "a") as f:
        gdk_window = window.get_window()
        xid = gdk_window.get_xid() if isinstance(gdk_window, GdkX11.X11Window) else 0
        f.write("MAPPED 0x%x\n" % xid)
    return False


view.get_buffer().connect("changed", save)
window.connect("map-event", mapped)
window.connect("destroy", Gtk.main_quit)
window.show_all()
Gtk.main()
