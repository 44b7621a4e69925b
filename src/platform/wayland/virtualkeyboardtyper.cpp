#include "platform/wayland/virtualkeyboardtyper.h"

#include "platform/linetyper.h"
#include "platform/namedkeys.h"
#include "platform/wayland/virtualkeymap.h"
#include "platform/wayland/waylandconnection.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <set>
#include <sys/mman.h>
#include <unistd.h>

namespace kq {
namespace {

constexpr uint32_t kFormatXkbV1 = 1;
constexpr uint32_t kReleased = 0, kPressed = 1;

uint32_t keysymOf(const KeyStroke& s) {
    return s.named ? KeysymForNamedKey(s.key) : xkb_utf32_to_keysym(s.ch);
}

} // namespace

struct VirtualKeyboardTyper::Impl : KeyEmitter {
    WaylandConnection wayland;
    zwp_virtual_keyboard_manager_v1* manager = nullptr;
    zwp_virtual_keyboard_v1* keyboard = nullptr;
    VirtualKeymap keymap;
    LineTyper line{*this};
    std::function<bool()> replaced;
    std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();

    ~Impl() override {
        if (keyboard) zwp_virtual_keyboard_v1_destroy(keyboard);
        if (manager) zwp_virtual_keyboard_manager_v1_destroy(manager);
    }

    // Quirk: clients may take two key events with the same time for one repeated event and drop
    // the second; every event gets a later time than the one before.
    uint32_t lastTime = 0;
    uint32_t now() {
        using namespace std::chrono;
        const auto ms =
            static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now() - start).count());
        return lastTime = std::max(ms, lastTime + 1);
    }

    bool roundTrip() override { return wayland.roundTrip(); }

    bool upload() {
        const std::string text = keymap.text();
        const int fd = memfd_create("keyquill-keymap", MFD_CLOEXEC);
        if (fd < 0) return false;
        const bool written =
            write(fd, text.c_str(), text.size() + 1) == static_cast<ssize_t>(text.size() + 1);
        if (written) {
            zwp_virtual_keyboard_v1_keymap(keyboard, kFormatXkbV1, fd,
                                           static_cast<uint32_t>(text.size() + 1));
            zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
        }
        close(fd);
        return written && line.fence();
    }

    bool keymapReplaced() { return replaced && replaced(); }

    // A line with more distinct keysyms than one keymap holds goes out in parts, each with the
    // keymap it needs; the keymap goes up again too when the compositor replaced it.
    bool prepare(const KeyStrokes& strokes, size_t from, size_t* to) override {
        std::set<uint32_t> seen;
        std::vector<uint32_t> part;
        for (*to = from; *to < strokes.size(); ++*to) {
            const uint32_t sym = keysymOf(strokes[*to]);
            if (!seen.count(sym) && seen.size() == VirtualKeymap::capacity()) break;
            if (seen.insert(sym).second) part.push_back(sym);
        }
        const bool replacedNow = keymapReplaced();
        return (!keymap.place(part) && !replacedNow) || upload();
    }
    bool betweenStrokes() override { return !keymapReplaced() || upload(); }

    bool resolvable(const KeyStroke& s) override { return keysymOf(s) != 0; }
    std::optional<EmittedKey> resolve(const KeyStroke& s) override {
        const uint32_t code = keymap.keycodeOf(keysymOf(s));
        if (!code) return std::nullopt;
        return EmittedKey{code};
    }
    uint32_t heldKeyCode(HeldKey k) override {
        return k == HeldKey::Shift     ? keymap.shiftKeycode()
               : k == HeldKey::Control ? keymap.controlKeycode()
               : k == HeldKey::Alt     ? keymap.altKeycode()
                                       : 0;
    }
    bool key(uint32_t xkbCode, bool pressed) override {
        zwp_virtual_keyboard_v1_key(keyboard, now(), xkbCode - 8, pressed ? kPressed : kReleased);
        return true;
    }
    // Quirk: wlroots does not run a virtual keyboard's keys through its keymap, so pressing Shift
    // changes no modifier by itself; the client sends the modifier state too, after each change.
    // The real modifiers have fixed places in every XKB keymap: Shift 0, Control 2, Mod1 3.
    bool modifiersHeld(uint8_t mods) override {
        const uint32_t depressed = ((mods & ModShift) ? 1u << 0 : 0) | ((mods & ModControl) ? 1u << 2 : 0) |
                                   ((mods & ModAlt) ? 1u << 3 : 0);
        zwp_virtual_keyboard_v1_modifiers(keyboard, depressed, 0, 0, 0);
        return true;
    }
};

std::unique_ptr<VirtualKeyboardTyper> VirtualKeyboardTyper::open(std::string* error) {
    auto impl = std::make_unique<Impl>();
    Impl* d = impl.get();
    const bool connected =
        impl->wayland.open([d](wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
            if (std::strcmp(interface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
                d->manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
                    wl_registry_bind(registry, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
        });
    if (!impl->wayland.display()) {
        if (error) *error = "cannot connect to the Wayland compositor";
        return nullptr;
    }
    if (!connected || !impl->manager) {
        if (error) *error = "the compositor offers no virtual keyboard (zwp_virtual_keyboard_v1)";
        return nullptr;
    }
    impl->keyboard =
        zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(impl->manager, impl->wayland.seat());
    // The protocol wants a keymap before the first key; this one also tells us early whether
    // the compositor lets us type at all.
    if (!impl->upload()) {
        if (error) *error = "the compositor refused a virtual keyboard";
        return nullptr;
    }
    return std::unique_ptr<VirtualKeyboardTyper>(new VirtualKeyboardTyper(std::move(impl)));
}

VirtualKeyboardTyper::VirtualKeyboardTyper(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}
VirtualKeyboardTyper::~VirtualKeyboardTyper() = default;

bool VirtualKeyboardTyper::alive() const {
    return m_impl->wayland.alive();
}

void VirtualKeyboardTyper::watchKeymap(std::function<bool()> replaced) {
    m_impl->replaced = std::move(replaced);
}

bool VirtualKeyboardTyper::send(const KeyStrokes& strokes) {
    return m_impl->wayland.alive() && m_impl->line.type(strokes);
}

} // namespace kq
