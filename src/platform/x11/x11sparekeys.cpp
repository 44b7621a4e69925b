#include "platform/x11/x11sparekeys.h"

#include "platform/x11/x11errors.h"

#include <X11/Xatom.h>
#include <X11/extensions/XInput.h>
#include <X11/extensions/XTest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>

namespace kq {
namespace {

constexpr const char* kRecordPrefix = "_KEYQUILL_SPARE_KEYS_";
constexpr const char* kOwnerAtom = "_KEYQUILL_OWNER";

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

std::vector<unsigned long> readCardinals(Display* dpy, Window w, Atom property) {
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    std::vector<unsigned long> out;
    if (XGetWindowProperty(dpy, w, property, 0, 65536, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data && format == 32) {
        const auto* values = reinterpret_cast<const unsigned long*>(data); // Xlib: longs for format 32
        out.assign(values, values + count);
    }
    if (data) XFree(data);
    return out;
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

X11SpareKeys::X11SpareKeys(Display* dpy, SpareTimings timings)
    : m_dpy(dpy), m_timings(timings), m_pool(timings.grace) {
    std::random_device random;
    m_nonce = {random(), random()};
    XSetWindowAttributes attrs{};
    m_owner =
        XCreateWindow(dpy, DefaultRootWindow(dpy), -1, -1, 1, 1, 0, 0, InputOnly, CopyFromParent, 0, &attrs);
    const unsigned long nonce[2] = {m_nonce[0], m_nonce[1]};
    XChangeProperty(dpy, m_owner, XInternAtom(dpy, kOwnerAtom, False), XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(nonce), 2);
    char hex[32];
    std::snprintf(hex, sizeof hex, "%lx", m_owner);
    m_recordAtom = XInternAtom(dpy, (std::string(kRecordPrefix) + hex).c_str(), False);
}

X11SpareKeys::~X11SpareKeys() {
    // Bindings still held now stay recorded: the next Keyquill finds this window gone and puts
    // them back.
    XDestroyWindow(m_dpy, m_owner);
    XFlush(m_dpy);
}

void X11SpareKeys::removeLeftovers() {
    const Window root = DefaultRootWindow(m_dpy);
    XGrabServer(m_dpy);
    int count = 0;
    Atom* props = XListProperties(m_dpy, root, &count);
    std::vector<char*> names(static_cast<size_t>(count));
    if (count) XGetAtomNames(m_dpy, props, count, names.data());
    const Atom ownerAtom = XInternAtom(m_dpy, kOwnerAtom, False);
    std::map<int, std::set<KeySym>> allowed;
    bool diedTyping = false;
    for (int i = 0; i < count; ++i) {
        const size_t prefix = std::strlen(kRecordPrefix);
        if (names[static_cast<size_t>(i)] &&
            !std::strncmp(names[static_cast<size_t>(i)], kRecordPrefix, prefix)) {
            const Window owner = std::strtoul(names[static_cast<size_t>(i)] + prefix, nullptr, 16);
            const auto data = readCardinals(m_dpy, root, props[i]);
            std::vector<unsigned long> ownerNonce;
            {
                XErrorTrap trap(m_dpy);
                ownerNonce = readCardinals(m_dpy, owner, ownerAtom);
                if (trap.errors()) ownerNonce.clear();
            }
            const bool alive = data.size() >= 3 && ownerNonce.size() == 2 && ownerNonce[0] == data[0] &&
                               ownerNonce[1] == data[1];
            if (!alive) {
                diedTyping = diedTyping || (data.size() >= 3 && data[2] != 0);
                for (size_t j = 3; j + 2 < data.size(); j += 3)
                    allowed[static_cast<int>(data[j])].insert({data[j + 1], data[j + 2]});
                XDeleteProperty(m_dpy, root, props[i]);
            }
        }
        if (names[static_cast<size_t>(i)]) XFree(names[static_cast<size_t>(i)]);
    }
    if (props) XFree(props);
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

// [nonce, nonce, typing, then keycode, level 1, level 2 for each binding]
void X11SpareKeys::record(const std::vector<std::array<uint32_t, 3>>& entries) {
    const Window root = DefaultRootWindow(m_dpy);
    if (entries.empty() && !m_typing) {
        if (m_recorded) XDeleteProperty(m_dpy, root, m_recordAtom);
        m_recorded = false;
        return;
    }
    std::vector<unsigned long> data{m_nonce[0], m_nonce[1], m_typing ? 1ul : 0ul};
    for (const auto& e : entries)
        data.insert(data.end(), e.begin(), e.end());
    XChangeProperty(m_dpy, root, m_recordAtom, XA_CARDINAL, 32, PropModeReplace,
                    reinterpret_cast<const unsigned char*>(data.data()), static_cast<int>(data.size()));
    m_recorded = true;
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
