#include "platform/x11/x11hotkeygrabs.h"

#include "platform/x11/x11errors.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

#include <numeric>
#include <utility>

namespace kq {
namespace {

KeySym keysymFor(Hotkey key) {
    if (key == Hotkey::Tab) return XK_Tab;
    if (key == Hotkey::CapsLock) return XK_Caps_Lock;
    return XK_F1 + FunctionKeyIndex(key);
}

} // namespace

X11HotkeyGrabs::X11HotkeyGrabs(Display* dpy, std::function<void()> focusMoved)
    : m_dpy(dpy), m_root(DefaultRootWindow(dpy)), m_window(m_root), m_focusMoved(std::move(focusMoved)) {
    // Focus moving to the root, or to no window, is seen here; elsewhere, on the focused window.
    XSelectInput(m_dpy, m_root, focusMask(m_root));
}

bool X11HotkeyGrabs::watch(std::vector<Hotkey> keys) {
    if (keys == m_watched) return false;
    m_watched = std::move(keys);
    return true;
}

// The combinations the hotkeys take: alone, with Shift, Control or both, and every state of the
// lock modifiers (Caps, Num, Scroll). Alt and Super are left out on purpose: those events belong
// to the applications and the window manager (Alt+F4).
std::vector<unsigned> X11HotkeyGrabs::modifierCombinations() const {
    const unsigned num = XkbKeysymToModifiers(m_dpy, XK_Num_Lock);
    const unsigned scroll = XkbKeysymToModifiers(m_dpy, XK_Scroll_Lock);
    std::vector<unsigned> locks{0};
    for (unsigned lockBit : {static_cast<unsigned>(LockMask), num, scroll}) {
        if (!lockBit) continue;
        const size_t n = locks.size();
        for (size_t i = 0; i < n; ++i)
            if (!(locks[i] & lockBit)) locks.push_back(locks[i] | lockBit);
    }
    std::set<unsigned> sets;
    for (unsigned base : {0u, static_cast<unsigned>(ShiftMask), static_cast<unsigned>(ControlMask),
                          static_cast<unsigned>(ShiftMask | ControlMask)})
        for (unsigned l : locks)
            sets.insert(base | l);
    return {sets.begin(), sets.end()};
}

bool X11HotkeyGrabs::takes(unsigned state) const {
    constexpr unsigned modifierBits =
        ShiftMask | LockMask | ControlMask | Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;
    return (state & modifierBits & ~m_takenMods) == 0;
}

// Every grab of ours on the key there, whichever way it was made.
void X11HotkeyGrabs::ungrab(KeyCode kc, Window w) {
    XUngrabKey(m_dpy, kc, AnyModifier, w);
}

// Each key for any modifiers: one grab a key. Grabbed combination by combination (as many as 32 a
// key), the server searched 384 grabs for every key event in the focused window while twelve
// function keys were watched (measured: 45 us more per hotkey, and 30 us more for each typed key).
// Where another client holds some combination of a key there, that key is grabbed in the
// combinations the hotkeys take, as far as they are free. False, with none of `keys` grabbed on
// `w`, when one is refused both ways.
bool X11HotkeyGrabs::grabKeys(const std::vector<KeyCode>& keys, Window w) {
    if (grabEach(keys, w, {AnyModifier})) return true;
    std::set<KeyCode> split;
    for (KeyCode kc : keys) {
        if (grabEach({kc}, w, {AnyModifier})) continue;
        if (!grabEach({kc}, w, m_combinations)) {
            for (KeyCode k : keys)
                ungrab(k, w);
            return false;
        }
        split.insert(kc);
    }
    m_perCombination.insert(split.begin(), split.end());
    return true;
}

// All of `keys` in all of `mods`, or (refused anywhere) none of them.
bool X11HotkeyGrabs::grabEach(const std::vector<KeyCode>& keys, Window w, const std::vector<unsigned>& mods) {
    XErrorTrap trap(m_dpy);
    for (KeyCode kc : keys)
        for (unsigned m : mods)
            XGrabKey(m_dpy, kc, static_cast<int>(m), w, True, GrabModeAsync, GrabModeSync);
    if (trap.errors() == 0) return true;
    for (KeyCode kc : keys)
        ungrab(kc, w);
    return false;
}

// Quirk: each grab a press starts and ends sends focus events (modes Grab and Ungrab) from the
// focused window to the grab window through every window between. Grabbed on the root, under a
// reparenting window manager they pass its frame, which woke the window manager on every hotkey
// (measured: more CPU per press than Keyquill's own). Grabbed on the focused window, only that
// window hears of it. So the grabs follow the focus; where no window has it, they sit on the root.
void X11HotkeyGrabs::followFocus() {
    m_focusMoved();
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_dpy, &focus, &revert);
    const Window want = (!m_active || focus == None || focus == PointerRoot) ? m_root : focus;
    if (want == m_window || moveGrabs(m_window, want) || want == m_root || m_window == m_root) return;
    moveGrabs(m_window, m_root);
}

bool X11HotkeyGrabs::focusMayHaveMoved(const XEvent& ev) {
    if (ev.type == FocusIn || ev.type == FocusOut)
        return ev.xfocus.mode == NotifyNormal || ev.xfocus.mode == NotifyWhileGrabbed;
    return ev.type == UnmapNotify || ev.type == DestroyNotify;
}

// The focused window's focus and structure events are selected (it may lose the focus without a
// focus event of its own when it is destroyed); the root's focus events only.
long X11HotkeyGrabs::focusMask(Window w) const {
    return w == m_root ? FocusChangeMask : FocusChangeMask | StructureNotifyMask;
}

// Grabs every grabbed key on `to` before letting go of them on `from`, so that no press falls
// between. False, with nothing changed, when `to` refuses a grab (gone, or a key another client
// grabbed there).
bool X11HotkeyGrabs::moveGrabs(Window from, Window to) {
    XErrorTrap trap(m_dpy);
    if (to != m_root) XSelectInput(m_dpy, to, focusMask(to));
    std::vector<KeyCode> keys;
    for (const auto& [kc, key] : m_grabbed)
        keys.push_back(kc);
    const std::set<KeyCode> splitBefore = std::exchange(m_perCombination, {});
    if (!grabKeys(keys, to)) {
        m_perCombination = splitBefore;
        if (to != m_root) XSelectInput(m_dpy, to, NoEventMask);
        return false;
    }
    for (KeyCode kc : keys)
        ungrab(kc, from);
    if (from != m_root) XSelectInput(m_dpy, from, NoEventMask);
    m_window = to;
    trap.errors(); // the old window may be gone: its ungrab fails, harmlessly
    return true;
}

// A key ungrabbed even for a moment lets a press through to the application.
void X11HotkeyGrabs::sync() {
    std::map<KeyCode, Hotkey> want;
    if (m_active)
        for (Hotkey key : m_watched)
            if (const KeyCode kc = XKeysymToKeycode(m_dpy, keysymFor(key)); kc && !want.count(kc))
                want[kc] = key;
    // The lock modifiers may have moved with the keymap: keys grabbed by combination again.
    std::set<KeyCode> again;
    if (const auto sets = modifierCombinations(); sets != m_combinations) {
        m_combinations = sets;
        m_takenMods = std::accumulate(sets.begin(), sets.end(), 0u, std::bit_or<>());
        again = std::exchange(m_perCombination, {});
    }
    if (want == m_grabbed && again.empty()) return;
    for (const auto& [kc, key] : m_grabbed)
        if (!want.count(kc) || again.count(kc)) ungrab(kc, m_window), m_perCombination.erase(kc);
    for (auto it = want.begin(); it != want.end();) {
        const auto [kc, key] = *it;
        // Quirk: a key another client has grabbed already answers with BadAccess. That key is not
        // ours: it stays out of the set (and is tried again when the keymap or the watched keys
        // change), and the user is told once.
        if ((m_grabbed.count(kc) && !again.count(kc)) || grabKeys({kc}, m_window)) {
            ++it;
            continue;
        }
        if (m_reported.insert(key).second) m_refused.push_back(key);
        it = want.erase(it);
    }
    m_grabbed = std::move(want);
    // In force before anything else happens: the user may press the key next.
    XSync(m_dpy, False);
}

std::optional<Hotkey> X11HotkeyGrabs::hotkeyFor(KeyCode kc) const {
    const auto it = m_grabbed.find(kc);
    if (it != m_grabbed.end()) return it->second;
    const KeySym sym = XkbKeycodeToKeysym(m_dpy, kc, 0, 0);
    if (sym == XK_Tab) return Hotkey::Tab;
    if (sym == XK_Caps_Lock) return Hotkey::CapsLock;
    if (sym >= XK_F1 && sym <= XK_F12) return FunctionKey(static_cast<int>(sym - XK_F1));
    return std::nullopt;
}

// Quirk: ending the grab sends the focused window's clients focus events (mode Ungrab), ours among
// them, since the focus is followed there. They woke our reading thread just as the server handed
// our keys to the window, and the receiving client then waited for an idle CPU (measured: 10-40 us
// more to the first character). So the ungrab alone goes unheard, with the server held meanwhile:
// no real focus change can fall between.
void X11HotkeyGrabs::ungrabUnheard(Time t) {
    XGrabServer(m_dpy);
    XSelectInput(m_dpy, m_window, focusMask(m_window) & ~FocusChangeMask);
    XUngrabKeyboard(m_dpy, t);
    XSelectInput(m_dpy, m_window, focusMask(m_window));
    XUngrabServer(m_dpy);
}

std::vector<Hotkey> X11HotkeyGrabs::takeRefused() {
    return std::exchange(m_refused, {});
}

} // namespace kq
