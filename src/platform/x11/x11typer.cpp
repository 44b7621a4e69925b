#include "platform/x11/x11typer.h"

#include "engine/utf8.h"
#include "platform/namedkeys.h"
#include "platform/x11/x11errors.h"
#include "platform/x11/x11wine.h"

#include <X11/Xlib-xcb.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <bit>
#include <chrono>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <thread>

namespace kq {
namespace {

bool isLockKeysym(KeySym s) {
    return s == XK_Caps_Lock || s == XK_Num_Lock || s == XK_Shift_Lock || s == XK_Scroll_Lock ||
           s == XK_ISO_Level3_Lock || s == XK_ISO_Level5_Lock || s == XK_ISO_Lock;
}

// The state bits a late translation takes from the last key event it has read, not from the
// key's own (it keeps Shift and Control with each key): AltGr and the other level modifiers.
constexpr unsigned kLateStateMask = Mod1Mask | Mod2Mask | Mod3Mask | Mod4Mask | Mod5Mask;

unsigned popcount(unsigned v) {
    return static_cast<unsigned>(__builtin_popcount(v));
}

// The modifiers that select `level` of a key type; false when no map entry leads there.
// Shift is preferred over Lock, so Caps Lock never decides the case of a typed letter.
bool levelModifiers(const XkbKeyTypeRec& type, int level, unsigned& mods) {
    if (level == 0) return mods = 0, true;
    bool found = false;
    for (int i = 0; i < type.map_count; ++i) {
        const XkbKTMapEntryRec& e = type.map[i];
        if (!e.active || e.level != level) continue;
        const unsigned m = e.mods.mask;
        const bool better = !found || ((mods & LockMask) && !(m & LockMask)) ||
                            (!(m & LockMask) == !(mods & LockMask) && popcount(m) < popcount(mods));
        if (better) mods = m, found = true;
    }
    return found;
}

} // namespace

X11Typer::X11Typer(Display* dpy, X11Records& records, SpareTimings timings)
    : m_dpy(dpy), m_spare(dpy, records, timings) {}

X11Typer::~X11Typer() {
    if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
}

void X11Typer::refresh() {
    if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
    m_xkb = XkbGetMap(m_dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    m_places.clear();
    m_layoutKeysyms.clear();
    m_deadKeys.reset();
    m_modifierKeys.fill(0);
    m_valid = m_xkb != nullptr;
    if (!m_xkb) return;
    m_spare.reconcile(m_xkb);
    const unsigned altMask = XkbKeysymToModifiers(m_dpy, XK_Alt_L);
    m_altMask = altMask ? altMask : Mod1Mask;
    // Lower levels first, and keypad keys only for what no other key offers, so "1" comes from
    // the main row and needs no Num Lock. Our own bindings are found through the pool instead.
    for (int pass = 0; pass < 2; ++pass) {
        for (int level = 0; level < XkbMaxShiftLevel; ++level) {
            for (int kc = m_xkb->min_key_code; kc <= m_xkb->max_key_code; ++kc) {
                const int groups = XkbKeyNumGroups(m_xkb, kc);
                if (groups == 0 || m_spare.owns(static_cast<KeyCode>(kc))) continue;
                const int g = static_cast<int>(m_group) % groups;
                if (level >= XkbKeyGroupWidth(m_xkb, kc, g)) continue;
                const KeySym sym = XkbKeySymEntry(m_xkb, kc, level, g);
                if (sym == NoSymbol || m_places.count(sym) || (pass == 0) == IsKeypadKey(sym)) continue;
                unsigned mods = 0;
                if (!levelModifiers(*XkbKeyKeyType(m_xkb, kc, g), level, mods)) continue;
                m_places.emplace(sym, Place{static_cast<KeyCode>(kc), mods});
                m_layoutKeysyms.push_back(static_cast<uint32_t>(sym));
            }
        }
    }
    for (int bit = 0; bit < 8; ++bit) {
        KeyCode fallback = 0;
        for (int kc = m_xkb->min_key_code; kc <= m_xkb->max_key_code && !m_modifierKeys[bit]; ++kc) {
            if (!(m_xkb->map->modmap[kc] & (1u << bit)) || XkbKeyNumGroups(m_xkb, kc) == 0) continue;
            const KeySym sym = XkbKeySymEntry(m_xkb, kc, 0, 0);
            if (isLockKeysym(sym)) continue;
            if (sym == XK_Shift_L || sym == XK_Control_L || sym == XK_Alt_L || sym == XK_ISO_Level3_Shift)
                m_modifierKeys[bit] = static_cast<KeyCode>(kc);
            else if (!fallback)
                fallback = static_cast<KeyCode>(kc);
        }
        if (!m_modifierKeys[bit]) m_modifierKeys[bit] = fallback;
    }
}

bool X11Typer::resolve(const KeyStroke& stroke, Press& out) const {
    const KeySym sym = stroke.named ? KeysymForNamedKey(stroke.key) : xkb_utf32_to_keysym(stroke.ch);
    if (sym == NoSymbol) return false;
    unsigned explicitMods = 0;
    if (stroke.modifiers & ModShift) explicitMods |= ShiftMask;
    if (stroke.modifiers & ModControl) explicitMods |= ControlMask;
    if (stroke.modifiers & ModAlt) explicitMods |= m_altMask;
    // Quirk: the X server itself takes Ctrl+Alt+F-keys (virtual terminal switch).
    const bool fkey = sym >= XK_F1 && sym <= XK_F35;
    if (fkey && (explicitMods & ControlMask) && (explicitMods & m_altMask)) return false;
    const auto it = m_places.find(sym);
    // Where the AltGr state is read late, a character is never typed with AltGr: its own keycode
    // carries it at the first level instead.
    const bool level3 = it != m_places.end() && (it->second.mods & kLateStateMask) && !stroke.named;
    if (it != m_places.end() && !(level3 && m_translatesLate)) {
        out = {it->second.keycode, it->second.mods | explicitMods, NoSymbol};
    } else {
        // A spare keycode's second level is selected with Shift.
        out = {0, explicitMods, sym};
        if (!m_modifierKeys[0]) return false;
    }
    for (int bit = 0; bit < 8; ++bit)
        if ((out.mods & (1u << bit)) && !m_modifierKeys[bit]) return false;
    return true;
}

void X11Typer::fake(KeyCode keycode, bool down) {
    XTestFakeKeyEvent(m_dpy, keycode, down ? True : False, CurrentTime);
    ++(down ? m_ownPresses : m_ownReleases)[keycode];
    if (down && m_grabbed && m_grabbed(keycode)) ++m_unclaimed[keycode];
}

bool X11Typer::claimOwnPress(KeyCode keycode) {
    if (m_unclaimed[keycode] == 0) return false;
    --m_unclaimed[keycode];
    return true;
}

void X11Typer::tap(const Press& p) {
    if (p.leftOut) return;
    if (p.dead.keycode) tap({p.dead.keycode, p.dead.mods});
    KeyCode held[8];
    int n = 0;
    for (int bit = 0; bit < 8; ++bit)
        if (p.mods & (1u << bit)) held[n++] = m_modifierKeys[bit];
    for (int i = 0; i < n; ++i)
        fake(held[i], true);
    fake(p.keycode, true);
    fake(p.keycode, false);
    for (int i = n - 1; i >= 0; --i)
        fake(held[i], false);
}

void X11Typer::pump() {
    if (!m_pump) return;
    for (const RawKey& k : m_pump())
        ++(k.release ? m_seenReleases : m_seenPresses)[k.keycode];
}

// Each hotkey the line types itself freezes the keyboard when the server takes it, and the rest
// of the line waits in the server until the filter has settled that press; a later one freezes it
// again. The lock and the lifted modifiers may come back only once the last key has been handled,
// or the keys still waiting would be read with them.
void X11Typer::settleOwnHotkeys() {
    const auto unclaimed = [this] { return std::accumulate(m_unclaimed.begin(), m_unclaimed.end(), 0); };
    for (int left = unclaimed(); left > 0;) {
        XSync(m_dpy, False);
        pump();
        const int now = unclaimed();
        if (now >= left) break; // the server took none as a hotkey: nothing waits behind it
        left = now;
    }
}

std::vector<KeyCode> X11Typer::releaseHeldModifiers(unsigned heldMods) {
    if (!heldMods) return {}; // the common case: nothing held, no need to ask the server
    char keys[32];
    XQueryKeymap(m_dpy, keys);
    std::vector<KeyCode> released;
    for (int kc = m_xkb->min_key_code; kc <= m_xkb->max_key_code; ++kc) {
        if (!(keys[kc / 8] & (1 << (kc % 8))) || !m_xkb->map->modmap[kc]) continue;
        if (XkbKeyNumGroups(m_xkb, kc) && isLockKeysym(XkbKeySymEntry(m_xkb, kc, 0, 0))) continue;
        fake(static_cast<KeyCode>(kc), false);
        released.push_back(static_cast<KeyCode>(kc));
    }
    return released;
}

// Presses again the modifiers lifted for the line, unless the user let go of one meanwhile: more
// raw releases of its key than the line injected (and no new press) mean the user released it.
void X11Typer::restoreHeldModifiers(const std::vector<KeyCode>& held) {
    for (KeyCode kc : held) {
        const int userReleases = m_seenReleases[kc] - m_ownReleases[kc];
        const int userPresses = m_seenPresses[kc] - m_ownPresses[kc];
        if (userReleases <= userPresses) XTestFakeKeyEvent(m_dpy, kc, True, CurrentTime);
    }
}

// Decides which characters of presses[from..] get spare keycodes now: those bound already keep
// theirs (and are protected from reuse), new ones take free or expired slots. Returns where the
// part ends: before the first character that found no slot.
size_t X11Typer::planPart(const std::vector<Press>& presses, size_t from, std::vector<uint8_t>& changed) {
    SparePool& pool = m_spare.pool();
    const auto now = SparePool::Clock::now();
    size_t i = from;
    for (; i < presses.size(); ++i) {
        const KeySym sym = presses[i].missing;
        if (sym == NoSymbol) continue;
        if (pool.find(static_cast<uint32_t>(sym), m_bindBelow)) {
            pool.touch(static_cast<uint32_t>(sym), now);
            continue;
        }
        const auto slot = pool.assign(static_cast<uint32_t>(sym), now, m_bindBelow);
        if (!slot) break;
        if (std::find(changed.begin(), changed.end(), slot->keycode) == changed.end())
            changed.push_back(slot->keycode);
    }
    return i;
}

// Makes sure the characters of a part of the line have spare keycodes, binding what is missing in
// one keymap change, and returns where the part ends. Waits (the keyboard kept flowing) when every
// slot is still within its grace period.
size_t X11Typer::bindPart(std::vector<Press>& presses, size_t from) {
    SparePool& pool = m_spare.pool();
    const bool allBound =
        std::all_of(presses.begin() + static_cast<long>(from), presses.end(), [&](const Press& p) {
            return p.missing == NoSymbol || pool.find(static_cast<uint32_t>(p.missing), m_bindBelow);
        });
    size_t end = presses.size();
    if (allBound) {
        std::vector<uint8_t> none;
        planPart(presses, from, none);
    } else {
        for (;;) {
            // Read the keymap afresh with the server held, so nothing of anybody else's is
            // written back from an old copy.
            XGrabServer(m_dpy);
            refresh();
            std::vector<uint8_t> changed;
            end = m_xkb ? planPart(presses, from, changed) : from;
            if (end > from) m_spare.commit(m_xkb, changed);
            XUngrabServer(m_dpy);
            XSync(m_dpy, False);
            if (end > from || !m_xkb || m_spare.pool().capacity() == 0) break;
            const auto until = pool.nextAvailable(SparePool::Clock::now(), m_bindBelow);
            while (SparePool::Clock::now() < until) {
                pump();
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        }
    }
    for (size_t i = from; i < end; ++i) {
        Press& p = presses[i];
        if (p.missing == NoSymbol) continue;
        const auto slot = pool.find(static_cast<uint32_t>(p.missing), m_bindBelow);
        p.keycode = slot->keycode;
        if (slot->level == 1) p.mods |= ShiftMask;
    }
    return end;
}

size_t X11Typer::typePart(std::vector<Press>& presses, size_t from, size_t to) {
    // The server works through our keys later than we send them. A request with a reply sent after
    // each chunk is a fence: its reply comes once the server has handled that chunk. Waiting for
    // the fence of the chunk before last keeps the server at most two chunks behind (so a keymap
    // change read at a chunk's end has reached few keys) without ever letting it run dry.
    xcb_connection_t* xcb = XGetXCBConnection(m_dpy);
    std::optional<xcb_get_input_focus_cookie_t> fence;
    size_t i = from;
    while (i < to) {
        tap(presses[i++]);
        if ((i - from) % kKeysPerChunk != 0) continue;
        XFlush(m_dpy);
        const auto next = xcb_get_input_focus(xcb);
        if (fence) std::free(xcb_get_input_focus_reply(xcb, *fence, nullptr));
        fence = next;
        // Let a hotkey pressed meanwhile be settled before more keys queue behind it. A keymap
        // change read here (a layout switched mid-line) ends the part: the rest of the line is
        // looked up again.
        pump();
        if (!m_valid) break;
    }
    if (fence) xcb_discard_reply(xcb, fence->sequence);
    const auto now = SparePool::Clock::now();
    for (size_t k = from; k < i; ++k)
        if (presses[k].missing != NoSymbol)
            m_spare.pool().touch(static_cast<uint32_t>(presses[k].missing), now);
    return i;
}

// What kind of window has the focus (the first window up from it that has a class says). Asked
// only for lines that need a spare keycode or AltGr, and the class only when the focus moved.
X11Typer::Target X11Typer::focusedTarget() {
    Window focus = 0;
    int revert = 0;
    XGetInputFocus(m_dpy, &focus, &revert);
    if (focus == m_checkedFocus) return m_focusedTarget;
    m_checkedFocus = focus, m_focusedTarget = Target::Ordinary, m_targetWindow = 0;
    XErrorTrap trap(m_dpy); // the window may be gone already
    for (Window w = focus; w > PointerRoot;) {
        XClassHint hint{};
        if (XGetClassHint(m_dpy, w, &hint)) {
            const std::string instance = hint.res_name ? hint.res_name : "";
            const std::string windowClass = hint.res_class ? hint.res_class : "";
            XFree(hint.res_name), XFree(hint.res_class);
            m_targetWindow = w;
            if (m_keyCodeWindows.matches(instance, windowClass))
                m_focusedTarget = Target::ForwardsKeyCodes;
            else if (KeyCodeWindows::translatesLate(instance, windowClass))
                m_focusedTarget = Target::TranslatesLate;
            break;
        }
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        if (!XQueryTree(m_dpy, w, &root, &parent, &children, &count)) break;
        if (children) XFree(children);
        w = parent == root ? 0 : parent;
    }
    return m_focusedTarget;
}

// A Windows program under Wine is woken up before it is first given bindings after the focus came
// to it.
void X11Typer::wakeLateTranslator() {
    if (m_wokenWindow == m_targetWindow) return;
    const uint8_t empty = m_spare.pool().emptyKeycode();
    // Quirk: it may be busy; after this long its keys are typed regardless.
    if (empty && WakeWineKeymapReader(m_dpy, m_targetWindow, empty, 500)) m_wokenWindow = m_targetWindow;
}

// In a window that forwards key codes a spare keycode means nothing on the far side: a character
// the layout lacks is typed with a dead key where the layout composes it, or else left out and
// named to the user once the line is done.
void X11Typer::keepToLayout(const KeyStrokes& strokes, std::vector<Press>& presses, size_t from) {
    if (!m_deadKeys) m_deadKeys.emplace(m_layoutKeysyms);
    for (size_t i = from; i < presses.size(); ++i) {
        Press& p = presses[i];
        if (p.missing == NoSymbol) continue;
        const auto pair = strokes[i].named ? std::nullopt : m_deadKeys->find(strokes[i].ch);
        const auto dead = pair ? m_places.find(pair->dead) : m_places.end();
        const auto base = pair ? m_places.find(pair->base) : m_places.end();
        if (dead != m_places.end() && base != m_places.end()) {
            p = {base->second.keycode, base->second.mods | p.mods, NoSymbol, dead->second, false};
            continue;
        }
        const char32_t c = strokes[i].named ? U'\uFFFD' : strokes[i].ch;
        if (m_leftOut.find(c) == std::u32string::npos) m_leftOut += c;
        p = {0, 0, NoSymbol, {}, true};
    }
}

bool X11Typer::resolveRest(const KeyStrokes& strokes, std::vector<Press>& presses, size_t from) {
    if (m_state) m_group = m_state().group;
    refresh();
    if (!m_xkb) return false;
    for (size_t i = from; i < presses.size(); ++i)
        if (!resolve(strokes[i], presses[i])) return false;
    if (m_forwarding) keepToLayout(strokes, presses, from);
    return true;
}

// Whether the line's keys leave in one write. A Keyquill killed meanwhile cannot then leave a key of
// it held (the server gets the whole write or none of it), so the root window needs no mark saying
// it was typing: every change of that mark is told to every client that watches the root (the
// window manager, panels, most toolkits), on the first press after a pause, before its keys.
bool X11Typer::leavesInOneWrite(const std::vector<Press>& presses, bool anyMissing, unsigned heldMods) {
    if (anyMissing || heldMods || presses.size() > kKeysPerChunk) return false;
    // Each key event is one XTest request of 36 bytes; Xlib writes its buffer of 16 KB when full.
    constexpr size_t requestBytes = 36, oneWriteBytes = 8192;
    size_t events = 0;
    for (const Press& p : presses)
        events += (p.dead.keycode ? 2u : 1u) * 2u * (1u + static_cast<size_t>(std::popcount(p.mods & 0xFFu)));
    return events * requestBytes <= oneWriteBytes;
}

bool X11Typer::send(const KeyStrokes& strokes) {
    if (strokes.empty()) return true;
    // Anything queued so far predates the line: read it first, so the keyboard state is current
    // and the counts below see only the line.
    pump();
    XkbStateRec st{};
    if (m_state)
        st = m_state();
    else
        XkbGetState(m_dpy, XkbUseCoreKbd, &st);
    if (st.group != m_group) m_group = st.group, m_valid = false;
    if (!m_valid) refresh();
    if (!m_xkb) return false;
    // Resolve everything first: a stroke that cannot be produced fails the line before any key.
    m_translatesLate = m_forwarding = false;
    std::vector<Press> presses(strokes.size());
    bool anyMissing = false;
    for (size_t i = 0; i < strokes.size(); ++i) {
        if (!resolve(strokes[i], presses[i])) return false;
        anyMissing = anyMissing || presses[i].missing != NoSymbol;
    }
    const bool anyLevel3 =
        std::any_of(presses.begin(), presses.end(), [](const Press& p) { return p.mods & kLateStateMask; });
    const Target target = anyMissing || anyLevel3 ? focusedTarget() : Target::Ordinary;
    m_forwarding = target == Target::ForwardsKeyCodes, m_translatesLate = target == Target::TranslatesLate;
    const auto& spare = m_spare.pool().keycodes();
    m_bindBelow = m_translatesLate && !spare.empty() && spare.front() < kLateTranslatorKeycodes
                      ? kLateTranslatorKeycodes
                      : SparePool::kAllKeycodes;
    if (m_translatesLate) wakeLateTranslator();
    if (m_forwarding) keepToLayout(strokes, presses, 0), anyMissing = false;
    for (size_t i = 0; m_translatesLate && i < strokes.size(); ++i)
        if (presses[i].mods & kLateStateMask) resolve(strokes[i], presses[i]), anyMissing = true;
    if (anyMissing && m_spare.pool().capacity() == 0) return false;
    // The user's held modifiers and Caps Lock must not change the text: lift them for the line.
    const bool capsLocked = st.locked_mods & LockMask;
    if (capsLocked) XkbLockModifiers(m_dpy, XkbUseCoreKbd, LockMask, 0);
    if (st.latched_mods) XkbLatchModifiers(m_dpy, XkbUseCoreKbd, st.latched_mods, 0);
    // The last line's own presses have all been read by now (it ended with a round trip).
    m_seenPresses.fill(0), m_seenReleases.fill(0), m_ownPresses.fill(0), m_ownReleases.fill(0);
    m_unclaimed.fill(0);
    if (!leavesInOneWrite(presses, anyMissing, st.base_mods)) m_spare.markTyping();
    const std::vector<KeyCode> held = releaseHeldModifiers(st.base_mods);
    // Only with modifiers lifted are the user's presses worth counting during the line.
    if (m_lineObserver && !held.empty()) m_lineObserver(true);
    bool ok = true;
    for (size_t from = 0; from < presses.size();) {
        // The keymap changed under the line: a layout switch, or our own bindings of the part before.
        if (from > 0 && !m_valid && !resolveRest(strokes, presses, from)) {
            ok = false;
            break;
        }
        const size_t to = bindPart(presses, from);
        if (to == from) {
            ok = false;
            break;
        }
        from = typePart(presses, from, to);
    }
    // Quirk: a typer that only flushes can lose the tail and leave a key held (server repeat).
    XSync(m_dpy, False);
    pump();
    settleOwnHotkeys();
    if (capsLocked) XkbLockModifiers(m_dpy, XkbUseCoreKbd, LockMask, LockMask);
    restoreHeldModifiers(held);
    if (m_lineObserver && !held.empty()) m_lineObserver(false);
    if (!m_leftOut.empty()) {
        m_notice = "Keyquill could not type " + EncodeUtf8(m_leftOut) +
                   " in this window. It passes keys on to another system, which reads them with its own "
                   "keyboard layout, and no key of your layout gives these characters.";
        m_leftOut.clear();
    }
    // Idle counts from the end of the line: a line that waited for free keycodes can be long.
    m_lastLine = SparePool::Clock::now();
    XFlush(m_dpy);
    return ok;
}

int X11Typer::msUntilHousekeeping() const {
    if (m_spare.pool().empty() && !m_spare.marked()) return -1;
    const auto left = m_lastLine + m_spare.timings().idle - SparePool::Clock::now();
    return static_cast<int>(
        std::max<long long>(0, std::chrono::ceil<std::chrono::milliseconds>(left).count()));
}

void X11Typer::housekeeping() {
    if (msUntilHousekeeping() == 0) removeBindings();
}

void X11Typer::removeBindings() {
    XGrabServer(m_dpy);
    refresh();
    if (m_xkb) m_spare.removeAll(m_xkb);
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
}

void X11Typer::removeBindingsAtExit() {
    if (m_spare.pool().empty() && !m_spare.marked()) return;
    if (const auto last = m_spare.pool().lastUse())
        std::this_thread::sleep_until(*last + m_spare.timings().exitSettle);
    removeBindings();
}

} // namespace kq
