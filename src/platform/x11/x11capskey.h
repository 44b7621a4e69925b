#pragma once
// While the filter swallows Caps Lock, the key loses its XKB action. A swallowed press would still
// go through XKB: it toggles the lock (which can be put back) and holds the Lock modifier down
// until the release (which no client request can take away), so every letter typed with the key
// held would change case, and so would a line typed meanwhile. Without its action the key changes
// nothing; it still carries its Caps_Lock symbol, so the grab and the applications still know it.
//
// The action is given back when the filter stops, and by the next Keyquill when this one dies
// (x11records.h).
#include "platform/x11/x11records.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <vector>

namespace kq {

class X11CapsKey {
public:
    X11CapsKey(Display* dpy, X11Records& records) : m_dpy(dpy), m_records(records) {}

    // Gives the key back its action where a Keyquill that is no longer running took it away.
    void removeLeftovers();
    // Takes the action away; again after a new keymap brought it back. Grabs the server.
    void neutralise();
    // Gives the action back, unless the keymap was replaced meanwhile. Grabs the server.
    void restore();

private:
    Display* m_dpy;
    X11Records& m_records;
    // What the key had: [keycode, explicit components, then two words per action]; empty while
    // it has its action.
    std::vector<unsigned long> m_saved;
};

} // namespace kq
