#pragma once
// Types key strokes with XTest into whatever window has the focus, from the live XKB keymap.
// Characters the keymap lacks are bound to spare keycodes, which keep them after the line (see
// sparepool.h) until they are needed for others or Keyquill has been idle a while.
#include "engine/keystroke.h"
#include "platform/keycodewindows.h"
#include "platform/x11/x11sparekeys.h"

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace kq {

class X11Typer : public KeystrokeSink {
public:
    X11Typer(Display* dpy, X11Records& records, SpareTimings timings = {});
    ~X11Typer() override;

    bool send(const KeyStrokes& strokes) override;
    // The keymap changed: read it again before the next line.
    void invalidate() { m_valid = false; }

    struct RawKey {
        KeyCode keycode = 0;
        bool release = false;
    };
    // Reads what the connection has queued and settles any activation of the filter's grabs at
    // once, so that a hotkey pressed mid-line never holds the keyboard while keys are being
    // sent. Returns the raw key events among what it read, ours and the user's alike: how the
    // typer learns whether a modifier it lifted for the line is still held.
    void setPump(std::function<std::vector<RawKey>()> pump) { m_pump = std::move(pump); }
    // The keyboard state (group, locked, latched and held modifiers) as of the last read of the
    // connection, kept from XKB state notifications: no round trip before a line.
    void setStateSource(std::function<XkbStateRec()> state) { m_state = std::move(state); }
    // Told when a line that lifted modifiers the user holds starts and ends.
    void setLineObserver(std::function<void(bool inLine)> observer) { m_lineObserver = std::move(observer); }

    // Which keycodes the filter grabs: presses of those that the typer sends are counted, so the
    // filter can tell its own typed hotkeys from the user's.
    void setGrabbed(std::function<bool(KeyCode)> grabbed) { m_grabbed = std::move(grabbed); }
    // True (once per press) when a grabbed press of `keycode` was typed by us.
    bool claimOwnPress(KeyCode keycode);

    // What the last lines could not type in a window that forwards key codes, as a sentence for
    // the user; empty when nothing was left out since the last call.
    std::string takeNotice() { return std::exchange(m_notice, {}); }

    // Bindings left by Keyquills that are no longer running are put back; call before typing.
    void removeLeftovers() { m_spare.removeLeftovers(); }
    // Milliseconds until the bindings are due for removal as idle; -1 when there are none.
    int msUntilHousekeeping() const;
    void housekeeping();
    // Gives the newest binding its settling time, then removes every binding (at exit).
    void removeBindingsAtExit();

    // The focus may have moved: what the focused window is gets looked up again before the next
    // line that needs it. Quirk: a new window can have the id of one just closed (a program
    // restarted gets the same ids).
    void forgetFocus() { m_checkedFocus = m_wokenWindow = 0; }

    // Keys sent between two reads of the connection.
    static constexpr size_t kKeysPerChunk = 64;

private:
    struct Place {
        KeyCode keycode = 0;
        unsigned mods = 0; // modifiers that select the keysym's level
    };
    struct Press {
        KeyCode keycode = 0;
        unsigned mods = 0;
        KeySym missing = NoSymbol; // typed through a spare keycode
        Place dead{};              // a dead key typed first, where the layout composes the character
        bool leftOut = false;      // no key of the layout gives it, in a window that forwards key codes
    };

    static bool leavesInOneWrite(const std::vector<Press>& presses, bool anyMissing, unsigned heldMods);
    void refresh();
    bool resolve(const KeyStroke& stroke, Press& out) const;
    size_t bindPart(std::vector<Press>& presses, size_t from);
    size_t planPart(const std::vector<Press>& presses, size_t from, std::vector<uint8_t>& changed);
    // Types presses[from, to); returns where it stopped (before `to` when the keymap changed).
    size_t typePart(std::vector<Press>& presses, size_t from, size_t to);
    // After a keymap change mid-line: the rest of the line looked up in the new keymap.
    bool resolveRest(const KeyStrokes& strokes, std::vector<Press>& presses, size_t from);
    enum class Target { Ordinary, ForwardsKeyCodes, TranslatesLate };
    Target focusedTarget();
    void wakeLateTranslator();
    void keepToLayout(const KeyStrokes& strokes, std::vector<Press>& presses, size_t from);
    void removeBindings();
    void pump();
    void settleOwnHotkeys();
    std::vector<KeyCode> releaseHeldModifiers(unsigned heldMods);
    void restoreHeldModifiers(const std::vector<KeyCode>& held);
    void tap(const Press& p);
    void fake(KeyCode keycode, bool down);

    Display* m_dpy;
    X11SpareKeys m_spare;
    bool m_valid = false;
    unsigned m_group = 0;
    XkbDescPtr m_xkb = nullptr;
    std::unordered_map<KeySym, Place> m_places;
    std::vector<uint32_t> m_layoutKeysyms; // lower levels first
    KeyCodeWindows m_keyCodeWindows = KeyCodeWindows::load();
    // Quirk: Wine 8 gives the keys it has no Windows key for, spare keycodes among them, one of
    // about 30 free Windows keys each, in keycode order; on the common (evdev) keymaps they run
    // out between keycodes 152 and 161 (measured on us, de and fr). Its windows get bindings on
    // keycodes below this only.
    static constexpr int kLateTranslatorKeycodes = 150;
    int m_bindBelow = SparePool::kAllKeycodes;
    Window m_checkedFocus = 0, m_targetWindow = 0, m_wokenWindow = 0;
    Target m_focusedTarget = Target::Ordinary;
    bool m_forwarding = false, m_translatesLate = false;
    std::optional<DeadKeyCompositions> m_deadKeys;
    std::u32string m_leftOut;
    std::string m_notice;
    std::array<KeyCode, 8> m_modifierKeys{}; // a key for each modifier bit (Shift .. Mod5)
    unsigned m_altMask = Mod1Mask;
    std::function<std::vector<RawKey>()> m_pump;
    std::function<bool(KeyCode)> m_grabbed;
    std::function<XkbStateRec()> m_state;
    std::function<void(bool)> m_lineObserver;
    SparePool::Clock::time_point m_lastLine{};
    std::array<int, 256> m_unclaimed{}; // grabbed presses sent, not yet seen by the filter
    // Raw key events seen during the line and those the line injected, per keycode: the
    // difference is the user's.
    std::array<int, 256> m_seenPresses{}, m_seenReleases{}, m_ownPresses{}, m_ownReleases{};
};

} // namespace kq
