// A recording Wayland client of our own: a small window that prints every key event it gets, one
// line each, as it arrives: "P <keysym>" for a press, "R <keysym>" for a release, and "F in" when
// it gets the keyboard focus. Nothing else, so it keeps up with any typist, and a test sees
// releases too. With --times each key line starts "P@<time>" or "R@<time>" instead, the event's
// time in milliseconds.
// Usage: kq_wl_recorder [--times]
#include "xdg-shell-client-protocol.h"

#include <wayland-client.h>
#include <xkbcommon/xkbcommon.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace {

struct Client {
    wl_compositor* compositor = nullptr;
    wl_shm* shm = nullptr;
    xdg_wm_base* wm = nullptr;
    wl_seat* seat = nullptr;
    wl_keyboard* keyboard = nullptr;
    wl_surface* surface = nullptr;
    xkb_context* xkb = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
    xkb_keymap* keymap = nullptr;
    xkb_state* state = nullptr;
    bool configured = false;
};

void emit(const std::string& line) {
    const std::string out = line + "\n";
    (void)!write(1, out.data(), out.size());
}

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    auto* c = static_cast<Client*>(data);
    void* map = format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1
                    ? mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0)
                    : MAP_FAILED;
    close(fd);
    if (map == MAP_FAILED) return;
    xkb_keymap* km = xkb_keymap_new_from_string(c->xkb, static_cast<const char*>(map),
                                                XKB_KEYMAP_FORMAT_TEXT_V1, XKB_KEYMAP_COMPILE_NO_FLAGS);
    munmap(map, size);
    if (!km) return;
    if (c->state) xkb_state_unref(c->state);
    if (c->keymap) xkb_keymap_unref(c->keymap);
    c->keymap = km;
    c->state = xkb_state_new(km);
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {
    emit("F in");
}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
bool g_times = false;

void onKey(void* data, wl_keyboard*, uint32_t, uint32_t time, uint32_t key, uint32_t pressed) {
    auto* c = static_cast<Client*>(data);
    if (!c->state) return;
    const xkb_keysym_t sym = xkb_state_key_get_one_sym(c->state, key + 8);
    char name[64] = "?";
    xkb_keysym_get_name(sym, name, sizeof name);
    emit(std::string(pressed ? "P" : "R") + (g_times ? "@" + std::to_string(time) : "") + " " + name);
}
void onModifiers(void* data, wl_keyboard*, uint32_t, uint32_t depressed, uint32_t latched, uint32_t locked,
                 uint32_t group) {
    auto* c = static_cast<Client*>(data);
    if (c->state) xkb_state_update_mask(c->state, depressed, latched, locked, 0, 0, group);
}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboard{onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

// A seat has a keyboard capability only once some keyboard exists (on a headless compositor, the
// first virtual keyboard).
void onCapabilities(void* data, wl_seat* seat, uint32_t caps) {
    auto* c = static_cast<Client*>(data);
    if (!(caps & WL_SEAT_CAPABILITY_KEYBOARD) || c->keyboard) return;
    c->keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(c->keyboard, &kKeyboard, c);
}
void onSeatName(void*, wl_seat*, const char*) {}
const wl_seat_listener kSeat{onCapabilities, onSeatName};

void onPing(void*, xdg_wm_base* wm, uint32_t serial) {
    xdg_wm_base_pong(wm, serial);
}
const xdg_wm_base_listener kWm{onPing};

// One white buffer, enough for the compositor to map the window.
void attachBuffer(Client* c, int w, int h) {
    const int stride = w * 4, size = stride * h;
    const int fd = memfd_create("kq-recorder", MFD_CLOEXEC);
    if (fd < 0 || ftruncate(fd, size) != 0) return;
    void* pixels = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (pixels != MAP_FAILED) {
        std::memset(pixels, 0xff, size);
        munmap(pixels, size);
    }
    wl_shm_pool* pool = wl_shm_create_pool(c->shm, fd, size);
    wl_buffer* buffer = wl_shm_pool_create_buffer(pool, 0, w, h, stride, WL_SHM_FORMAT_XRGB8888);
    wl_shm_pool_destroy(pool);
    close(fd);
    wl_surface_attach(c->surface, buffer, 0, 0);
    wl_surface_commit(c->surface);
}

void onSurfaceConfigure(void* data, xdg_surface* s, uint32_t serial) {
    auto* c = static_cast<Client*>(data);
    xdg_surface_ack_configure(s, serial);
    if (c->configured) return wl_surface_commit(c->surface);
    c->configured = true;
    attachBuffer(c, 200, 100);
}
const xdg_surface_listener kSurface{onSurfaceConfigure};

void onToplevelConfigure(void*, xdg_toplevel*, int32_t, int32_t, wl_array*) {}
void onToplevelClose(void*, xdg_toplevel*) {
    _exit(0);
}
void onBounds(void*, xdg_toplevel*, int32_t, int32_t) {}
void onWmCapabilities(void*, xdg_toplevel*, wl_array*) {}
const xdg_toplevel_listener kToplevel{onToplevelConfigure, onToplevelClose, onBounds, onWmCapabilities};

void onGlobal(void* data, wl_registry* r, uint32_t name, const char* iface, uint32_t) {
    auto* c = static_cast<Client*>(data);
    if (std::strcmp(iface, wl_compositor_interface.name) == 0)
        c->compositor = static_cast<wl_compositor*>(wl_registry_bind(r, name, &wl_compositor_interface, 4));
    else if (std::strcmp(iface, wl_shm_interface.name) == 0)
        c->shm = static_cast<wl_shm*>(wl_registry_bind(r, name, &wl_shm_interface, 1));
    else if (std::strcmp(iface, xdg_wm_base_interface.name) == 0)
        c->wm = static_cast<xdg_wm_base*>(wl_registry_bind(r, name, &xdg_wm_base_interface, 1));
    else if (!c->seat && std::strcmp(iface, wl_seat_interface.name) == 0)
        c->seat = static_cast<wl_seat*>(wl_registry_bind(r, name, &wl_seat_interface, 1));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistry{onGlobal, onGlobalRemove};

} // namespace

int main(int argc, char** argv) {
    g_times = argc > 1 && std::string(argv[1]) == "--times";
    Client c;
    wl_display* display = wl_display_connect(nullptr);
    if (!display) return 2;
    wl_registry_add_listener(wl_display_get_registry(display), &kRegistry, &c);
    wl_display_roundtrip(display);
    if (!c.compositor || !c.shm || !c.wm || !c.seat) return 3;
    xdg_wm_base_add_listener(c.wm, &kWm, &c);
    wl_seat_add_listener(c.seat, &kSeat, &c);
    c.surface = wl_compositor_create_surface(c.compositor);
    xdg_surface* xs = xdg_wm_base_get_xdg_surface(c.wm, c.surface);
    xdg_surface_add_listener(xs, &kSurface, &c);
    xdg_toplevel* top = xdg_surface_get_toplevel(xs);
    xdg_toplevel_add_listener(top, &kToplevel, &c);
    xdg_toplevel_set_title(top, "kq-wl-recorder");
    wl_surface_commit(c.surface);
    while (wl_display_dispatch(display) >= 0) {
    }
    return 0;
}
