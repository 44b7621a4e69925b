#pragma once
// The spare keycodes that carry characters the layout lacks: which are ours, what they hold, and
// a record of it on the X server (x11records.h) so that a Keyquill started after a crash can put
// them back.
#include "platform/sparepool.h"
#include "platform/x11/x11records.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <vector>

namespace kq {

class X11SpareKeys {
public:
    X11SpareKeys(Display* dpy, X11Records& records, SpareTimings timings);
    X11SpareKeys(const X11SpareKeys&) = delete;
    X11SpareKeys& operator=(const X11SpareKeys&) = delete;

    const SpareTimings& timings() const { return m_timings; }
    SparePool& pool() { return m_pool; }
    const SparePool& pool() const { return m_pool; }

    // Puts back the keycodes that Keyquills no longer running left bound, and lets go of the keys
    // one of them held when it ended in the middle of a line. Grabs the server.
    void removeLeftovers();
    // Marked in the record from the first line after a clean-up until the next clean-up: keys may
    // be held down meanwhile. Once, not per line: every change of a root property is news to
    // every client that watches the root (window managers, panels), just before our keys.
    void markTyping();
    bool marked() const { return m_typing; }
    // Takes a keymap just read from the server: the pool's keycodes become the spare ones plus
    // those of ours that still hold what we bound; bindings the keymap lost are forgotten.
    // Returns false when a binding was lost (someone else changed the keymap).
    bool reconcile(XkbDescPtr xkb);
    bool owns(KeyCode keycode) const;
    // Writes what the pool holds for `changed` into `xkb` and the server in one change, recorded
    // before and after. The caller holds the server and has just read `xkb`.
    void commit(XkbDescPtr xkb, const std::vector<uint8_t>& changed);
    // Removes every binding and the mark (same conditions as commit).
    void removeAll(XkbDescPtr xkb);

private:
    void record(const std::vector<std::array<uint32_t, 3>>& entries);
    std::vector<std::array<uint32_t, 3>> entriesOfPool() const;

    Display* m_dpy;
    X11Records& m_records;
    SpareTimings m_timings;
    SparePool m_pool;
    bool m_typing = false;
};

} // namespace kq
