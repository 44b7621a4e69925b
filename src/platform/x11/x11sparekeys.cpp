#include "platform/x11/x11sparekeys.h"

#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace kq {
namespace {

constexpr const char* kRecordKind = "_KEYQUILL_SPARE_KEYS_";

bool isSpare(XkbDescPtr xkb, int kc) {
    return XkbKeyNumGroups(xkb, kc) == 0 && !xkb->map->modmap[kc];
}

// The symbols of a key's first group, level by level; empty for a key without groups.
std::vector<KeySym> levelSyms(XkbDescPtr xkb, int kc) {
    std::vector<KeySym> syms;
    if (XkbKeyNumGroups(xkb, kc) == 0) return syms;
    for (int level = 0; level < XkbKeyGroupWidth(xkb, kc, 0); ++level)
        syms.push_back(XkbKeySymEntry(xkb, kc, level, 0));
    return syms;
}

void writeKey(XkbDescPtr xkb, int kc, const std::vector<uint32_t>& contents) {
    XkbSymMapRec& rec = xkb->map->key_sym_map[kc];
    if (std::all_of(contents.begin(), contents.end(), [](uint32_t s) { return s == 0; })) {
        XkbResizeKeySyms(xkb, kc, 0);
        rec.group_info = 0;
        rec.width = 0;
        rec.kt_index[0] = 0;
        return;
    }
    // TWO_LEVEL ignores Caps Lock, so the lock cannot change which of the two is typed.
    KeySym* slot = XkbResizeKeySyms(xkb, kc, SparePool::kLevels);
    if (!slot) return;
    for (int level = 0; level < SparePool::kLevels; ++level)
        slot[level] = contents[static_cast<size_t>(level)] ? contents[static_cast<size_t>(level)] : NoSymbol;
    rec.kt_index[0] = XkbTwoLevelIndex;
    rec.group_info = XkbSetNumGroups(0, 1);
    rec.width = SparePool::kLevels;
}

// Sends the symbols of the keycodes from `codes` (and of those between them, unchanged) in one
// request, so clients see one change of the keymap, not many.
void sendKeySyms(Display* dpy, XkbDescPtr xkb, const std::vector<uint8_t>& codes) {
    const auto [lo, hi] = std::minmax_element(codes.begin(), codes.end());
    XkbMapChangesRec changes{};
    changes.changed = XkbKeySymsMask;
    changes.first_key_sym = *lo;
    changes.num_key_syms = static_cast<unsigned char>(*hi - *lo + 1);
    XkbChangeMap(dpy, xkb, &changes);
}

// Releases every key that the XTest keyboard still holds down: a typer killed between the press and
// the release of a key leaves it down, and the server repeats it for ever.
void releaseKeysHeldByXTest(Display* dpy) {
    int count = 0;
    XDeviceInfo* devices = XListInputDevices(dpy, &count);
    for (int i = 0; i < count; ++i) {
        const XDeviceInfo& info = devices[i];
        if (info.use != IsXExtensionKeyboard || !info.name || !std::strstr(info.name, "XTEST")) continue;
        XDevice* device = XOpenDevice(dpy, info.id);
        if (!device) continue;
        if (XDeviceState* state = XQueryDeviceState(dpy, device)) {
            auto* cls = state->data;
            for (int c = 0; c < state->num_classes; ++c) {
                if (cls->c_class == KeyClass) {
                    const auto* keys = reinterpret_cast<XKeyState*>(cls);
                    for (int kc = 8; kc < keys->num_keys && kc < 256; ++kc)
                        if (keys->keys[kc / 8] & (1 << (kc % 8)))
                            XTestFakeKeyEvent(dpy, static_cast<unsigned>(kc), False, CurrentTime);
                }
                cls = reinterpret_cast<XInputClass*>(reinterpret_cast<char*>(cls) + cls->length);
            }
            XFreeDeviceState(state);
        }
        XCloseDevice(dpy, device);
    }
    if (devices) XFreeDeviceList(devices);
}

} // namespace

X11SpareKeys::X11SpareKeys(Display* dpy, X11Records& records, SpareTimings timings)
    : m_dpy(dpy), m_records(records), m_timings(timings), m_pool(timings.grace) {}

// A record: [typing, then keycode, level 1, level 2 for each binding]
void X11SpareKeys::removeLeftovers() {
    XGrabServer(m_dpy);
    std::map<int, std::set<KeySym>> allowed;
    bool diedTyping = false;
    for (const auto& data : X11Records::takeLeftovers(m_dpy, kRecordKind)) {
        diedTyping = diedTyping || (!data.empty() && data[0] != 0);
        for (size_t j = 1; j + 2 < data.size(); j += 3)
            allowed[static_cast<int>(data[j])].insert({data[j + 1], data[j + 2]});
    }
    if (!allowed.empty()) {
        XkbDescPtr xkb =
            XkbGetMap(m_dpy, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
        std::vector<uint8_t> changed;
        for (const auto& [kc, syms] : allowed) {
            if (!xkb || kc < xkb->min_key_code || kc > xkb->max_key_code || xkb->map->modmap[kc]) continue;
            if (XkbKeyNumGroups(xkb, kc) != 1) continue;
            // Only what a Keyquill put there is taken away: the keycode may have been given a
            // meaning by a layout loaded since.
            const auto now = levelSyms(xkb, kc);
            const bool ours =
                std::all_of(now.begin(), now.end(), [&](KeySym s) { return s == NoSymbol || syms.count(s); });
            if (!ours) continue;
            writeKey(xkb, kc, {});
            changed.push_back(static_cast<uint8_t>(kc));
        }
        if (!changed.empty()) sendKeySyms(m_dpy, xkb, changed);
        if (xkb) XkbFreeKeyboard(xkb, 0, True);
    }
    if (diedTyping) releaseKeysHeldByXTest(m_dpy);
    XUngrabServer(m_dpy);
    XSync(m_dpy, False);
}

bool X11SpareKeys::reconcile(XkbDescPtr xkb) {
    bool intact = true;
    std::vector<uint8_t> codes;
    for (int kc = xkb->min_key_code; kc <= xkb->max_key_code; ++kc) {
        const auto code = static_cast<uint8_t>(kc);
        if (m_pool.holdsAnything(code)) {
            const auto want = m_pool.contents(code);
            const auto have = levelSyms(xkb, kc);
            bool same = have.size() == want.size() && !xkb->map->modmap[kc];
            for (size_t l = 0; same && l < want.size(); ++l)
                same = have[l] == (want[l] ? want[l] : NoSymbol);
            if (same) {
                codes.push_back(code);
                continue;
            }
            m_pool.forget(code); // the keymap was replaced under us: that binding is gone already
            intact = false;
        }
        if (isSpare(xkb, kc)) codes.push_back(code);
    }
    m_pool.setKeycodes(codes);
    if (!intact) record(entriesOfPool());
    return intact;
}

bool X11SpareKeys::owns(KeyCode keycode) const {
    return m_pool.holdsAnything(keycode);
}

std::vector<std::array<uint32_t, 3>> X11SpareKeys::entriesOfPool() const {
    std::vector<std::array<uint32_t, 3>> entries;
    for (uint8_t kc : m_pool.keycodes()) {
        if (!m_pool.holdsAnything(kc)) continue;
        const auto syms = m_pool.contents(kc);
        entries.push_back({kc, syms[0], syms[1]});
    }
    return entries;
}

void X11SpareKeys::markTyping() {
    if (m_typing) return;
    m_typing = true;
    record(entriesOfPool());
}

void X11SpareKeys::record(const std::vector<std::array<uint32_t, 3>>& entries) {
    std::vector<unsigned long> data;
    if (!entries.empty() || m_typing) data.push_back(m_typing ? 1ul : 0ul);
    for (const auto& e : entries)
        data.insert(data.end(), e.begin(), e.end());
    m_records.write(kRecordKind, data);
}

void X11SpareKeys::commit(XkbDescPtr xkb, const std::vector<uint8_t>& changed) {
    if (changed.empty()) return;
    // Recorded first with what the keycodes hold now and will hold, so that a crash at any point
    // leaves a record that covers the keymap.
    auto entries = entriesOfPool();
    for (uint8_t kc : changed) {
        const auto syms = levelSyms(xkb, kc);
        std::array<uint32_t, 3> old{kc, 0, 0};
        for (size_t l = 0; l < std::min<size_t>(2, syms.size()); ++l)
            old[l + 1] = static_cast<uint32_t>(syms[l]);
        if (!syms.empty()) entries.push_back(old);
    }
    record(entries);
    for (uint8_t kc : changed)
        writeKey(xkb, kc, m_pool.contents(kc));
    sendKeySyms(m_dpy, xkb, changed);
    record(entriesOfPool());
}

void X11SpareKeys::removeAll(XkbDescPtr xkb) {
    std::vector<uint8_t> changed;
    for (uint8_t kc : m_pool.keycodes())
        if (m_pool.holdsAnything(kc)) changed.push_back(kc);
    m_pool.forgetAll();
    commit(xkb, changed);
    m_typing = false;
    record({});
}

} // namespace kq
