#include "platform/x11/x11typer.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <thread>

namespace kq {
namespace {

KeySym keysymForNamed(NamedKey k) {
    switch (k) {
    case NamedKey::Backspace:
        return XK_BackSpace;
    case NamedKey::Break:
        return XK_Break;
    case NamedKey::CapsLock:
        return XK_Caps_Lock;
    case NamedKey::Delete:
        return XK_Delete;
    case NamedKey::Down:
        return XK_Down;
    case NamedKey::End:
        return XK_End;
    case NamedKey::Enter:
        return XK_Return;
    case NamedKey::Esc:
        return XK_Escape;
    case NamedKey::Help:
        return XK_Help;
    case NamedKey::Home:
        return XK_Home;
    case NamedKey::Insert:
        return XK_Insert;
    case NamedKey::Left:
        return XK_Left;
    case NamedKey::NumLock:
        return XK_Num_Lock;
    case NamedKey::PageDown:
        return XK_Next;
    case NamedKey::PageUp:
        return XK_Prior;
    case NamedKey::PrintScreen:
        return XK_Print;
    case NamedKey::Right:
        return XK_Right;
    case NamedKey::ScrollLock:
        return XK_Scroll_Lock;
    case NamedKey::Tab:
        return XK_Tab;
    case NamedKey::Up:
        return XK_Up;
    case NamedKey::Add:
        return XK_KP_Add;
    case NamedKey::Subtract:
        return XK_KP_Subtract;
    case NamedKey::Multiply:
        return XK_KP_Multiply;
    case NamedKey::Divide:
        return XK_KP_Divide;
    default:
        break;
    }
    const int f = static_cast<int>(k) - static_cast<int>(NamedKey::F1);
    if (f >= 0 && f < 16) return XK_F1 + f;
    return NoSymbol;
}

bool isLockKeysym(KeySym s) {
    return s == XK_Caps_Lock || s == XK_Num_Lock || s == XK_Shift_Lock || s == XK_Scroll_Lock ||
           s == XK_ISO_Level3_Lock || s == XK_ISO_Level5_Lock || s == XK_ISO_Lock;
}

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

X11Typer::~X11Typer() {
    if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
}

void X11Typer::refresh() {
    if (m_xkb) XkbFreeKeyboard(m_xkb, 0, True);
    m_xkb = XkbGetMap(m_dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
    m_places.clear();
    m_spare.clear();
    m_valid = m_xkb != nullptr;
    if (!m_xkb) return;
    XkbStateRec st{};
    XkbGetState(m_dpy, XkbUseCoreKbd, &st);
    const unsigned altMask = XkbKeysymToModifiers(m_dpy, XK_Alt_L);
    m_altMask = altMask ? altMask : Mod1Mask;
    // Lower levels first, and keypad keys only for what no other key offers, so "1" comes from
    // the main row and needs no Num Lock.
    for (int pass = 0; pass < 2; ++pass) {
        for (int level = 0; level < XkbMaxShiftLevel; ++level) {
            for (int kc = m_xkb->min_key_code; kc <= m_xkb->max_key_code; ++kc) {
                const int groups = XkbKeyNumGroups(m_xkb, kc);
                if (groups == 0) {
                    if (pass == 0 && level == 0 && !m_xkb->map->modmap[kc])
                        m_spare.push_back(static_cast<KeyCode>(kc));
                    continue;
                }
                const int g = st.group % groups;
                if (level >= XkbKeyGroupWidth(m_xkb, kc, g)) continue;
                const KeySym sym = XkbKeySymEntry(m_xkb, kc, level, g);
                if (sym == NoSymbol || m_places.count(sym) || (pass == 0) == IsKeypadKey(sym)) continue;
                unsigned mods = 0;
                if (!levelModifiers(*XkbKeyKeyType(m_xkb, kc, g), level, mods)) continue;
                m_places.emplace(sym, Place{static_cast<KeyCode>(kc), mods});
            }
        }
    }
}

KeyCode X11Typer::modifierKey(unsigned bit) const {
    KeyCode fallback = 0;
    for (int kc = m_xkb->min_key_code; kc <= m_xkb->max_key_code; ++kc) {
        if (!(m_xkb->map->modmap[kc] & bit) || XkbKeyNumGroups(m_xkb, kc) == 0) continue;
        const KeySym sym = XkbKeySymEntry(m_xkb, kc, 0, 0);
        if (isLockKeysym(sym)) continue;
        if (sym == XK_Shift_L || sym == XK_Control_L || sym == XK_Alt_L || sym == XK_ISO_Level3_Shift)
            return static_cast<KeyCode>(kc);
        if (!fallback) fallback = static_cast<KeyCode>(kc);
    }
    return fallback;
}

bool X11Typer::resolve(const KeyStroke& stroke, Press& out) const {
    const KeySym sym = stroke.named ? keysymForNamed(stroke.key) : xkb_utf32_to_keysym(stroke.ch);
    if (sym == NoSymbol) return false;
    unsigned explicitMods = 0;
    if (stroke.modifiers & ModShift) explicitMods |= ShiftMask;
    if (stroke.modifiers & ModControl) explicitMods |= ControlMask;
    if (stroke.modifiers & ModAlt) explicitMods |= m_altMask;
    // Quirk: the X server itself takes Ctrl+Alt+F-keys (virtual terminal switch).
    const bool fkey = sym >= XK_F1 && sym <= XK_F35;
    if (fkey && (explicitMods & ControlMask) && (explicitMods & m_altMask)) return false;
    const auto it = m_places.find(sym);
    if (it != m_places.end()) {
        out = {it->second.keycode, it->second.mods | explicitMods, NoSymbol};
    } else {
        out = {0, explicitMods, sym};
    }
    for (unsigned bit = 1; bit <= Mod5Mask; bit <<= 1)
        if ((out.mods & bit) && !modifierKey(bit)) return false;
    return true;
}

void X11Typer::fake(KeyCode keycode, bool down) {
    XTestFakeKeyEvent(m_dpy, keycode, down ? True : False, CurrentTime);
    ++(down ? m_ownPresses : m_ownReleases)[keycode];
}

void X11Typer::tap(const Press& p) {
    KeyCode held[8];
    int n = 0;
    for (unsigned bit = 1; bit <= Mod5Mask; bit <<= 1)
        if (p.mods & bit) held[n++] = modifierKey(bit);
    for (int i = 0; i < n; ++i)
        fake(held[i], true);
    fake(p.keycode, true);
    fake(p.keycode, false);
    for (int i = n - 1; i >= 0; --i)
        fake(held[i], false);
}

std::vector<KeyCode> X11Typer::releaseHeldModifiers() {
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
    if (held.empty()) return;
    std::array<int, 256> presses{}, releases{};
    if (m_collect)
        for (const RawKey& k : m_collect())
            ++(k.release ? releases : presses)[k.keycode];
    for (KeyCode kc : held) {
        const int userReleases = releases[kc] - m_ownReleases[kc];
        const int userPresses = presses[kc] - m_ownPresses[kc];
        if (userReleases <= userPresses) XTestFakeKeyEvent(m_dpy, kc, True, CurrentTime);
    }
}

// Sends the key symbols of the keycodes from `codes` (and of those between them, unchanged) in
// one request, so clients see one change of the keymap, not many.
void X11Typer::commitKeySyms(const std::vector<KeyCode>& codes) {
    const auto [lo, hi] = std::minmax_element(codes.begin(), codes.end());
    XkbMapChangesRec changes{};
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = *lo;
    changes.num_key_syms = static_cast<unsigned char>(*hi - *lo + 1);
    XkbChangeMap(m_dpy, m_xkb, &changes);
    XSync(m_dpy, False);
}

// Two missing characters share each spare keycode: level one plain, level two with Shift. The
// TWO_LEVEL type ignores Caps Lock, so the lock cannot change which one is typed.
std::vector<KeyCode> X11Typer::bindSpare(const std::vector<KeySym>& syms) {
    const size_t count = (syms.size() + 1) / 2;
    std::vector<KeyCode> codes(m_spare.begin(), m_spare.begin() + static_cast<long>(count));
    for (size_t i = 0; i < count; ++i) {
        const int width = 2 * i + 1 < syms.size() ? 2 : 1;
        KeySym* slot = XkbResizeKeySyms(m_xkb, codes[i], width);
        if (!slot) return {};
        for (int level = 0; level < width; ++level)
            slot[level] = syms[2 * i + static_cast<size_t>(level)];
        XkbSymMapRec& rec = m_xkb->map->key_sym_map[codes[i]];
        rec.kt_index[0] = width == 2 ? XkbTwoLevelIndex : XkbOneLevelIndex;
        rec.group_info = XkbSetNumGroups(0, 1);
        rec.width = static_cast<unsigned char>(width);
    }
    commitKeySyms(codes);
    return codes;
}

void X11Typer::unbindSpare(const std::vector<KeyCode>& codes) {
    for (KeyCode kc : codes) {
        XkbResizeKeySyms(m_xkb, kc, 0);
        XkbSymMapRec& rec = m_xkb->map->key_sym_map[kc];
        rec.group_info = 0;
        rec.width = 0;
        rec.kt_index[0] = 0;
    }
    commitKeySyms(codes);
}

bool X11Typer::typeChunk(std::vector<Press>& presses) {
    std::vector<KeySym> missing;
    for (const Press& p : presses)
        if (p.missing != NoSymbol && std::find(missing.begin(), missing.end(), p.missing) == missing.end())
            missing.push_back(p.missing);
    std::vector<KeyCode> bound;
    if (!missing.empty()) {
        bound = bindSpare(missing);
        if (bound.size() != (missing.size() + 1) / 2) return false;
        for (Press& p : presses) {
            if (p.missing == NoSymbol) continue;
            const auto index =
                static_cast<size_t>(std::find(missing.begin(), missing.end(), p.missing) - missing.begin());
            p.keycode = bound[index / 2];
            if (index % 2) p.mods |= ShiftMask;
        }
    }
    for (const Press& p : presses)
        tap(p);
    // Quirk: a typer that only flushes can lose the tail and leave a key held (server repeat).
    XSync(m_dpy, False);
    if (!bound.empty()) {
        // Clients read a changed keymap lazily: keep the binding until they have used it.
        std::this_thread::sleep_for(std::chrono::milliseconds(kRebindSettleMs));
        unbindSpare(bound);
        m_valid = false;
    }
    return true;
}

bool X11Typer::send(const KeyStrokes& strokes) {
    if (strokes.empty()) return true;
    if (!m_valid) refresh();
    if (!m_xkb) return false;
    // Resolve everything first: a stroke that cannot be produced fails the line before any key.
    std::vector<std::vector<Press>> chunks(1);
    std::vector<KeySym> chunkMissing;
    for (const KeyStroke& s : strokes) {
        Press p;
        if (!resolve(s, p)) return false;
        if (p.missing != NoSymbol &&
            std::find(chunkMissing.begin(), chunkMissing.end(), p.missing) == chunkMissing.end()) {
            if (m_spare.empty()) return false;
            if (chunkMissing.size() == 2 * m_spare.size()) chunks.emplace_back(), chunkMissing.clear();
            chunkMissing.push_back(p.missing);
        }
        chunks.back().push_back(p);
    }
    // The user's held modifiers and Caps Lock must not change the text: lift them for the line.
    XkbStateRec st{};
    XkbGetState(m_dpy, XkbUseCoreKbd, &st);
    const bool capsLocked = st.locked_mods & LockMask;
    if (capsLocked) XkbLockModifiers(m_dpy, XkbUseCoreKbd, LockMask, 0);
    if (st.latched_mods) XkbLatchModifiers(m_dpy, XkbUseCoreKbd, st.latched_mods, 0);
    // Anything queued so far predates the line: set it aside so the count below sees only the
    // raw events of the line itself.
    if (m_collect) m_collect();
    m_ownPresses.fill(0);
    m_ownReleases.fill(0);
    const std::vector<KeyCode> held = releaseHeldModifiers();
    bool ok = true;
    for (auto& chunk : chunks) {
        if (!ok) break;
        ok = typeChunk(chunk);
    }
    if (capsLocked) XkbLockModifiers(m_dpy, XkbUseCoreKbd, LockMask, LockMask);
    XSync(m_dpy, False);
    restoreHeldModifiers(held);
    XSync(m_dpy, False);
    return ok;
}

} // namespace kq
