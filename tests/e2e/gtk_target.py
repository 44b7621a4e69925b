#!/usr/bin/python3
# A GTK text view that records what it holds: the toolkit's own key handling (keymap
# refresh, input method, dead keys) is what the tests exercise. Same protocol as the other
# targets: TEXT_FILE gets the whole text after every change, EVENTS_FILE "MAPPED 0x<window>"
# (with GTK 4, which has no X11 window id here, "MAPPED 0x0"), then "FOCUSED" once it has the
# keyboard focus.
# Usage: gtk_target.py TEXT_FILE EVENTS_FILE [TITLE]; KQ_GTK=4 in the environment for GTK 4.
import os
import sys

import gi

gtk4 = os.environ.get("KQ_GTK") == "4"
gi.require_version("Gtk", "4.0" if gtk4 else "3.0")
if not gtk4:
    gi.require_version("GdkX11", "3.0")
from gi.repository import GLib, Gtk  # noqa: E402

text_path, events_path = sys.argv[1], sys.argv[2]
title = sys.argv[3] if len(sys.argv) > 3 else "kq-gtk-target"


def save(buffer):
    with open(text_path, "w", encoding="utf-8") as f:
        f.write(buffer.get_text(buffer.get_start_iter(), buffer.get_end_iter(), True))


def focused(*_):
    if window.is_active():
        with open(events_path, "a") as f:
            f.write("FOCUSED\n")


def mapped(xid):
    view.grab_focus()
    with open(events_path, "a") as f:
        f.write("MAPPED 0x%x\n" % xid)
    return False


view = Gtk.TextView()
# A line wider than any surface GTK can draw would end the program: wrap as editors do.
view.set_wrap_mode(Gtk.WrapMode.CHAR)
view.get_buffer().connect("changed", save)
if gtk4:
    loop = GLib.MainLoop()
    window = Gtk.Window(title=title, default_width=400, default_height=200, child=view)
    window.connect("map", lambda *_: mapped(0))
    window.connect("notify::is-active", focused)
    window.connect("close-request", lambda *_: loop.quit())
    window.present()
    loop.run()
else:
    from gi.repository import GdkX11  # noqa: E402

    window = Gtk.Window(title=title)
    window.set_default_size(400, 200)
    window.add(view)

    def xid():
        gdk_window = window.get_window()
        return gdk_window.get_xid() if isinstance(gdk_window, GdkX11.X11Window) else 0

    window.connect("map-event", lambda *_: mapped(xid()))
    window.connect("notify::is-active", focused)
    window.connect("destroy", Gtk.main_quit)
    window.show_all()
    Gtk.main()
