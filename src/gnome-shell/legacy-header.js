// GNOME 43 and 44 load an extension as a script with the legacy importer.
const { Clutter, Gio, GLib, GObject, Meta, Shell, St } = imports.gi;
const Main = imports.ui.main;

