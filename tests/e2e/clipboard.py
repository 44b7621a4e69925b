#!/usr/bin/python3
# The user's clipboard, through GTK 3: `clipboard.py get` prints its text; `clipboard.py set TEXT`
# owns it and serves TEXT until killed (prints "SET" once it owns it).
import sys

import gi

gi.require_version("Gdk", "3.0")
gi.require_version("Gtk", "3.0")
from gi.repository import Gdk, Gtk  # noqa: E402

clipboard = Gtk.Clipboard.get(Gdk.SELECTION_CLIPBOARD)
if sys.argv[1] == "get":
    print(clipboard.wait_for_text() or "", end="")
else:
    clipboard.set_text(sys.argv[2], -1)
    print("SET", flush=True)
    Gtk.main()
