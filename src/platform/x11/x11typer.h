#pragma once
// Types key strokes with XTest into whatever window has the focus, from the live XKB keymap.
// Characters the keymap lacks are bound to spare keycodes for the line and unbound after.
#include "engine/keystroke.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

namespace kq {

class X11Typer : public KeystrokeSink {
public:
    explicit X11Typer(Display* dpy) : m_dpy(dpy) {}
    ~X11Typer() override;

    bool send(const KeyStrokes& strokes) override;
    // The keymap changed: read it again before the next line.
    void invalidate() { m_valid = false; }

    struct RawKey {
        KeyCode keycode = 0;
        bool release = false;
    };
    // Reads what the connection has queued (without handling it) and returns the raw key events
    // among it, ours and the user's alike: how the typer learns whether a modifier it lifted for
    // the line is still held.
    void setRawKeyCollector(std::function<std::vector<RawKey>()> collector) {
        m_collect = std::move(collector);
    }

    // How long clients get to read a temporary binding before it is taken away again.
    static constexpr int kRebindSettleMs = 20;

private:
    struct Place {
        KeyCode keycode = 0;
        unsigned mods = 0; // modifiers that select the keysym's level
    };
    struct Press {
        KeyCode keycode = 0;
        unsigned mods = 0;
        KeySym missing = NoSymbol; // bound to a spare keycode before typing
    };

    void refresh();
    bool resolve(const KeyStroke& stroke, Press& out) const;
    KeyCode modifierKey(unsigned bit) const;
    bool typeChunk(std::vector<Press>& presses);
    std::vector<KeyCode> bindSpare(const std::vector<KeySym>& syms);
    void unbindSpare(const std::vector<KeyCode>& codes);
    void commitKeySyms(const std::vector<KeyCode>& codes);
    std::vector<KeyCode> releaseHeldModifiers();
    void restoreHeldModifiers(const std::vector<KeyCode>& held);
    void tap(const Press& p);
    void fake(KeyCode keycode, bool down);

    Display* m_dpy;
    bool m_valid = false;
    XkbDescPtr m_xkb = nullptr;
    std::unordered_map<KeySym, Place> m_places;
    std::vector<KeyCode> m_spare;
    unsigned m_altMask = Mod1Mask;
    std::function<std::vector<RawKey>()> m_collect;
    // Key events this line injected, per keycode: the rest of the raw events are the user's.
    std::array<int, 256> m_ownPresses{}, m_ownReleases{};
};

} // namespace kq
