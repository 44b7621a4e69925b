#include "platform/x11/x11capskey.h"

#include <X11/keysym.h>

#include <cstdint>
#include <cstring>

namespace kq {
namespace {

constexpr const char* kRecordKind = "_KEYQUILL_CAPS_KEY_";

XkbDescPtr readMap(Display* dpy) {
    return XkbGetMap(dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbKeyActionsMask | XkbExplicitComponentsMask,
                     XkbUseCoreKbd);
}

bool isCapsKey(XkbDescPtr xkb, unsigned long kc) {
    return xkb && kc >= xkb->min_key_code && kc <= xkb->max_key_code && XkbKeyNumGroups(xkb, kc) > 0 &&
           XkbKeySymEntry(xkb, kc, 0, 0) == XK_Caps_Lock;
}

void sendActions(Display* dpy, XkbDescPtr xkb, KeyCode kc) {
    XkbMapChangesRec changes{};
    changes.changed = XkbKeyActionsMask | XkbExplicitComponentsMask;
    changes.first_key_act = changes.first_key_explicit = kc;
    changes.num_key_acts = changes.num_key_explicit = 1;
    XkbChangeMap(dpy, xkb, &changes);
}

// Puts back what `saved` says the key had, where it is still the key we left without action:
// a keymap loaded since has the action it brought with it.
bool putBack(Display* dpy, XkbDescPtr xkb, const std::vector<unsigned long>& saved) {
    if (saved.size() < 4 || saved.size() % 2) return false;
    const auto kc = static_cast<KeyCode>(saved[0]);
    const int count = static_cast<int>(saved.size() - 2) / 2;
    if (!isCapsKey(xkb, saved[0]) || XkbKeyHasActions(xkb, kc) ||
        !(xkb->server->c_explicit[kc] & XkbExplicitInterpretMask) || XkbKeyNumSyms(xkb, kc) != count)
        return false;
    XkbAction* actions = XkbResizeKeyActions(xkb, kc, count);
    if (!actions) return false;
    for (int i = 0; i < count; ++i) {
        const uint32_t words[2] = {static_cast<uint32_t>(saved[2 + 2 * i]),
                                   static_cast<uint32_t>(saved[3 + 2 * i])};
        static_assert(sizeof(XkbAction) == sizeof words);
        std::memcpy(&actions[i], words, sizeof words);
    }
    xkb->server->c_explicit[kc] = static_cast<unsigned char>(saved[1]);
    sendActions(dpy, xkb, kc);
    return true;
}

} // namespace

void X11CapsKey::removeLeftovers() {
    XGrabServer(m_dpy);
    const auto leftovers = X11Records::takeLeftovers(m_dpy, kRecordKind);
    if (!leftovers.empty()) {
        XkbDescPtr xkb = readMap(m_dpy);
        for (const auto& saved : leftovers)
            putBack(m_dpy, xkb, saved);
        if (xkb) XkbFreeKeyboard(xkb, 0, True);
    }
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
}

void X11CapsKey::neutralise() {
    XGrabServer(m_dpy);
    XkbDescPtr xkb = readMap(m_dpy);
    const KeyCode kc = XKeysymToKeycode(m_dpy, XK_Caps_Lock);
    // Without an action already: ours from before, or another Keyquill's.
    if (isCapsKey(xkb, kc) && XkbKeyHasActions(xkb, kc)) {
        std::vector<unsigned long> saved{kc, xkb->server->c_explicit[kc]};
        const XkbAction* actions = XkbKeyActionsPtr(xkb, kc);
        for (int i = 0; i < XkbKeyNumActions(xkb, kc); ++i) {
            uint32_t words[2];
            std::memcpy(words, &actions[i], sizeof words);
            saved.insert(saved.end(), {words[0], words[1]});
        }
        // Recorded before the change, so a crash at any point leaves a record that covers it.
        m_saved = std::move(saved);
        m_records.write(kRecordKind, m_saved);
        xkb->server->key_acts[kc] = 0;
        // Or the server would derive the action again from the symbols at the next change.
        xkb->server->c_explicit[kc] |= XkbExplicitInterpretMask;
        sendActions(m_dpy, xkb, kc);
    }
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
}

void X11CapsKey::restore() {
    if (m_saved.empty()) return;
    XGrabServer(m_dpy);
    XkbDescPtr xkb = readMap(m_dpy);
    putBack(m_dpy, xkb, m_saved);
    if (xkb) XkbFreeKeyboard(xkb, 0, True);
    m_saved.clear();
    m_records.write(kRecordKind, {});
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
}

} // namespace kq
