#pragma once
// The hotkeys' passive grabs. They sit on the focused window and follow it; each key is grabbed
// once for any modifiers where it can be, and the presses it takes are told from the ones that go
// on to the window.
#include "engine/hotkey.h"

#include <X11/Xlib.h>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <vector>

namespace kq {

class X11HotkeyGrabs {
public:
    // `focusMoved` runs whenever the grabs look for the focus anew.
    X11HotkeyGrabs(Display* dpy, std::function<void()> focusMoved);

    // With the filter removed nothing is grabbed, whatever is watched.
    void setActive(bool active) { m_active = active; }
    // The keys wanted (sorted); false when they are those already.
    bool watch(std::vector<Hotkey> keys);
    // Grabs the watched keys where the keymap has them now, touching only what changed.
    void sync();
    // Moves the grabs to the focused window (the root where none has the focus).
    void followFocus();
    static bool focusMayHaveMoved(const XEvent& ev);

    bool grabbed(KeyCode kc) const { return m_grabbed.count(kc) > 0; }
    std::optional<Hotkey> hotkeyFor(KeyCode kc) const;
    // Whether a grabbed press with this state is one a hotkey takes, or goes on to the window.
    bool takes(unsigned state) const;
    // Ends the keyboard grab a press started, without our own focus events for it.
    void ungrabUnheard(Time t);
    // Keys another client holds, each told once.
    std::vector<Hotkey> takeRefused();

private:
    std::vector<unsigned> modifierCombinations() const;
    void ungrab(KeyCode kc, Window w);
    bool grabKeys(const std::vector<KeyCode>& keys, Window w);
    bool grabEach(const std::vector<KeyCode>& keys, Window w, const std::vector<unsigned>& mods);
    bool moveGrabs(Window from, Window to);
    long focusMask(Window w) const;

    Display* m_dpy;
    Window m_root;
    Window m_window; // where the keys are grabbed: the focused window, else the root
    std::function<void()> m_focusMoved;
    bool m_active = false;
    std::vector<Hotkey> m_watched;        // keys wanted
    std::map<KeyCode, Hotkey> m_grabbed;  // keycode -> key, as grabbed now
    std::set<KeyCode> m_perCombination;   // of those, grabbed one modifier combination at a time
    std::vector<unsigned> m_combinations; // the combinations the hotkeys take
    unsigned m_takenMods = 0;             // the modifiers in them
    std::set<Hotkey> m_reported;          // keys found held by another client, told once
    std::vector<Hotkey> m_refused;        // of those, not yet handed to the owner
};

} // namespace kq
