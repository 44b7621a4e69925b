#include "platform/kde/fakeinputtyper.h"

#include "engine/utf8.h"
#include "fake-input-client-protocol.h"
#include "keystate-client-protocol.h"
#include "platform/kde/kwinlayouts.h"
#include "platform/linetyper.h"
#include "platform/namedkeys.h"
#include "platform/wayland/clipboardpaste.h"
#include "platform/wayland/compositorkeymap.h"
#include "platform/wayland/waylandconnection.h"

#include <wayland-client.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <unistd.h>

namespace kq {
namespace {

constexpr uint32_t kReleased = 0, kPressed = 1;
constexpr uint32_t kEvdevCapsLock = 58;

void onLockState(void* data, org_kde_kwin_keystate*, uint32_t key, uint32_t state);
const org_kde_kwin_keystate_listener kKeystateListener{onLockState};

} // namespace

struct FakeInputTyper::Impl : KeyEmitter {
    WaylandConnection wayland;
    org_kde_kwin_fake_input* input = nullptr;
    org_kde_kwin_keystate* keystate = nullptr;
    uint32_t keystateVersion = 0;
    CompositorKeymap keymap;
    LayoutKeys& layout = keymap.layout();
    bool caps = false;
    LineTyper line{*this};
    KwinLayouts layouts{nullptr};
    bool switchable = false; // KWin's layout service answered: other groups can be typed through
    uint32_t users = 0;      // the user's layout group when the line began
    uint32_t group = 0;      // the one KWin reads our keys with now

    ~Impl() override {
        keymap.detach();
        if (keystate && keystateVersion >= 4)
            org_kde_kwin_keystate_destroy(keystate);
        else if (keystate)
            wl_proxy_destroy(reinterpret_cast<wl_proxy*>(keystate));
        // Quirk: protocol files from Plasma 6 give fake input a destroy request (version 5), and
        // their generated destroy sends it; bound at version 4, KWin ends the connection for it.
        if (input) wl_proxy_destroy(reinterpret_cast<wl_proxy*>(input));
    }

    bool roundTrip() override { return wayland.roundTrip(); }

    // The layout and lock as they are now: the user may have switched since the last line.
    // Quirk: KWin tells the layout in use only to the focused window; its layout service tells
    // anyone, and is there only while the user has several layouts.
    bool begin(uint32_t* activeGroup) override {
        if (!roundTrip()) return false;
        const std::optional<uint32_t> active = layouts.active();
        switchable = active.has_value();
        group = users = *activeGroup = active.value_or(0);
        layout.setState(users, caps);
        return true;
    }

    // The group in use when it has the key, else another that has it, when KWin lets us switch.
    std::optional<EmittedKey> resolve(const KeyStroke& s) override {
        const uint32_t sym = s.named ? KeysymForNamedKey(s.key) : 0;
        const auto g = s.named ? layout.groupWithKeysym(sym) : layout.groupWithChar(s.ch);
        if (!g || (*g != group && !switchable)) return std::nullopt;
        const auto k = s.named ? layout.forKeysymIn(*g, sym) : layout.forCharIn(*g, s.ch);
        return EmittedKey{k->keycode, k->shift, k->level3, *g};
    }
    uint32_t heldKeyCode(HeldKey k) override {
        return k == HeldKey::Shift     ? layout.shiftKeycode()
               : k == HeldKey::Control ? layout.controlKeycode()
               : k == HeldKey::Alt     ? layout.altKeycode()
                                       : layout.level3Keycode();
    }
    bool key(uint32_t xkbCode, bool pressed) override {
        org_kde_kwin_fake_input_keyboard_key(input, xkbCode - 8, pressed ? kPressed : kReleased);
        return true;
    }
    bool useGroup(uint32_t g) override {
        if (!layouts.activate(g)) return false;
        group = g;
        layout.setState(group, caps);
        return true;
    }
    // The user's own layout again, after keys typed in another.
    bool finish() override { return group == users || useGroup(users); }

    // Characters the layout lacks go through the clipboard, a run of them at a time.
    bool paste(const std::u32string& run, const std::function<bool()>& pressPaste) override {
        std::string error;
        const bool ok = ClipboardPaste::paste(EncodeUtf8(run), pressPaste, &error);
        if (!ok) std::fprintf(stderr, "keyquill: %zu characters not typed: %s\n", run.size(), error.c_str());
        return ok;
    }
};

namespace {

void onLockState(void* data, org_kde_kwin_keystate*, uint32_t key, uint32_t state) {
    auto* d = static_cast<FakeInputTyper::Impl*>(data);
    if (key == ORG_KDE_KWIN_KEYSTATE_KEY_CAPSLOCK) d->caps = state != ORG_KDE_KWIN_KEYSTATE_STATE_UNLOCKED;
}

} // namespace

std::unique_ptr<FakeInputTyper> FakeInputTyper::open(sd_bus* bus, std::string* error) {
    auto d = std::make_unique<Impl>();
    d->layouts = KwinLayouts(bus);
    auto failWith = [&](const char* why) {
        if (error) *error = why;
        return nullptr;
    };
    Impl* impl = d.get();
    const bool connected = d->wayland.open([impl](wl_registry* registry, uint32_t name, const char* interface,
                                                  uint32_t version) {
        if (std::strcmp(interface, org_kde_kwin_fake_input_interface.name) == 0 && version >= 4) {
            impl->input = static_cast<org_kde_kwin_fake_input*>(
                wl_registry_bind(registry, name, &org_kde_kwin_fake_input_interface, 4));
        } else if (std::strcmp(interface, org_kde_kwin_keystate_interface.name) == 0) {
            impl->keystateVersion = std::min<uint32_t>(version, 4);
            impl->keystate = static_cast<org_kde_kwin_keystate*>(
                wl_registry_bind(registry, name, &org_kde_kwin_keystate_interface, impl->keystateVersion));
        }
    });
    if (!d->wayland.display()) return failWith("cannot connect to the Wayland compositor");
    if (!connected || !d->input)
        return failWith("the compositor offers no fake input (org_kde_kwin_fake_input)");
    org_kde_kwin_fake_input_authenticate(d->input, "Keyquill", "types the lines you prepared");
    d->keymap.attach(d->wayland.seat());
    if (d->keystate) {
        org_kde_kwin_keystate_add_listener(d->keystate, &kKeystateListener, d.get());
        org_kde_kwin_keystate_fetchStates(d->keystate);
    }
    // Quirk: KWin tells a refused client nothing; the requests just do nothing. The keymap is
    // what can be checked: without it no key can be chosen.
    if (!d->roundTrip() || !d->keymap.known()) return failWith("the compositor sent no keymap to type with");
    return std::unique_ptr<FakeInputTyper>(new FakeInputTyper(std::move(d)));
}

FakeInputTyper::FakeInputTyper(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
FakeInputTyper::~FakeInputTyper() = default;

bool FakeInputTyper::alive() const {
    return m_impl->wayland.alive();
}

std::optional<bool> FakeInputTyper::capsLocked() {
    m_impl->roundTrip();
    return m_impl->caps;
}

void FakeInputTyper::tapCapsLock() {
    org_kde_kwin_fake_input_keyboard_key(m_impl->input, kEvdevCapsLock, kPressed);
    org_kde_kwin_fake_input_keyboard_key(m_impl->input, kEvdevCapsLock, kReleased);
    m_impl->line.fence();
}

bool FakeInputTyper::send(const KeyStrokes& strokes) {
    return m_impl->line.type(strokes);
}

} // namespace kq
