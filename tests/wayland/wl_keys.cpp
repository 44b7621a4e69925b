// A second keyboard for the Wayland tests: a virtual keyboard with an ordinary layout that
// stands for the user's own, pressing keys by their evdev codes as a person would. Commands on
// standard input, one per line, each answered "ok" once the compositor has handled it:
//   layout us|de|...   upload that layout's keymap   down N / up N   press / release key N
//   tap N              press and release             sync          nothing but the answer
#include "fake-input-client-protocol.h"
#include "virtual-keyboard-unstable-v1-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <sstream>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

wl_seat* g_seat = nullptr;
zwp_virtual_keyboard_manager_v1* g_manager = nullptr;
org_kde_kwin_fake_input* g_fake = nullptr;

void onGlobal(void*, wl_registry* r, uint32_t name, const char* iface, uint32_t) {
    if (!g_seat && std::strcmp(iface, wl_seat_interface.name) == 0)
        g_seat = static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, 1));
    if (std::strcmp(iface, zwp_virtual_keyboard_manager_v1_interface.name) == 0)
        g_manager = static_cast<zwp_virtual_keyboard_manager_v1*>(
            wl_registry_bind(r, name, &zwp_virtual_keyboard_manager_v1_interface, 1));
    if (std::strcmp(iface, org_kde_kwin_fake_input_interface.name) == 0)
        g_fake = static_cast<org_kde_kwin_fake_input*>(
            wl_registry_bind(r, name, &org_kde_kwin_fake_input_interface, 4));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kListener{onGlobal, onGlobalRemove};

// Quirk: the compositor does not run a virtual keyboard's keys through its keymap; the client
// keeps the modifier state and sends it, as a real keyboard's driver would.
xkb_state* g_state = nullptr;

void sendModifiers(zwp_virtual_keyboard_v1* kb) {
    zwp_virtual_keyboard_v1_modifiers(kb, xkb_state_serialize_mods(g_state, XKB_STATE_MODS_DEPRESSED),
                                      xkb_state_serialize_mods(g_state, XKB_STATE_MODS_LATCHED),
                                      xkb_state_serialize_mods(g_state, XKB_STATE_MODS_LOCKED),
                                      xkb_state_serialize_layout(g_state, XKB_STATE_LAYOUT_EFFECTIVE));
}

bool uploadLayout(zwp_virtual_keyboard_v1* kb, const std::string& layout) {
    xkb_context* ctx = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    const xkb_rule_names names{"evdev", "pc105", layout.c_str(), "", ""};
    xkb_keymap* map = xkb_keymap_new_from_names(ctx, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map) return false;
    char* text = xkb_keymap_get_as_string(map, XKB_KEYMAP_FORMAT_TEXT_V1);
    const size_t size = std::strlen(text) + 1;
    const int fd = memfd_create("kq-test-keymap", MFD_CLOEXEC);
    const bool ok = fd >= 0 && write(fd, text, size) == static_cast<ssize_t>(size);
    if (ok) zwp_virtual_keyboard_v1_keymap(kb, 1, fd, static_cast<uint32_t>(size));
    if (fd >= 0) close(fd);
    free(text);
    if (g_state) xkb_state_unref(g_state);
    g_state = xkb_state_new(map);
    xkb_keymap_unref(map);
    xkb_context_unref(ctx);
    return ok;
}

} // namespace

int main() {
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return 2;
    wl_registry_add_listener(wl_display_get_registry(display), &kListener, nullptr);
    wl_display_roundtrip(display);
    if (!g_seat || (!g_manager && !g_fake)) return 3;
    zwp_virtual_keyboard_v1* kb = nullptr;
    if (g_manager) {
        kb = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(g_manager, g_seat);
        if (!uploadLayout(kb, "us")) return 4;
    } else {
        org_kde_kwin_fake_input_authenticate(g_fake, "kq_wl_keys", "the user's keyboard in tests");
    }
    wl_display_roundtrip(display);
    std::string line;
    uint32_t time = 1;
    while (std::getline(std::cin, line)) {
        std::istringstream in(line);
        std::string cmd, arg;
        in >> cmd >> arg;
        if (cmd == "layout" && (!kb || !uploadLayout(kb, arg))) return 5;
        const uint32_t key = static_cast<uint32_t>(std::strtoul(arg.c_str(), nullptr, 10));
        for (bool down : {true, false}) {
            if (down ? (cmd != "down" && cmd != "tap") : (cmd != "up" && cmd != "tap")) continue;
            if (!kb) {
                org_kde_kwin_fake_input_keyboard_key(g_fake, key, down ? 1 : 0);
                continue;
            }
            zwp_virtual_keyboard_v1_key(kb, ++time, key, down ? 1 : 0);
            xkb_state_update_key(g_state, key + 8, down ? XKB_KEY_DOWN : XKB_KEY_UP);
            sendModifiers(kb);
        }
        if (wl_display_roundtrip(display) < 0) return 6;
        std::cout << "ok" << std::endl;
    }
    if (kb) zwp_virtual_keyboard_v1_destroy(kb);
    wl_display_roundtrip(display);
    wl_display_disconnect(display);
    return 0;
}
