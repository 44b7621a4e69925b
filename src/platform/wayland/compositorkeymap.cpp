#include "platform/wayland/compositorkeymap.h"

#include <wayland-client.h>

#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace kq {
namespace {

void onKeymap(void* data, wl_keyboard*, uint32_t format, int32_t fd, uint32_t size) {
    if (format == WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1)
        static_cast<CompositorKeymap*>(data)->take(fd, size);
    else
        close(fd);
}
void onEnter(void*, wl_keyboard*, uint32_t, wl_surface*, wl_array*) {}
void onLeave(void*, wl_keyboard*, uint32_t, wl_surface*) {}
void onKey(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onModifiers(void*, wl_keyboard*, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t) {}
void onRepeat(void*, wl_keyboard*, int32_t, int32_t) {}
const wl_keyboard_listener kKeyboardListener{onKeymap, onEnter, onLeave, onKey, onModifiers, onRepeat};

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t) {
    auto** seat = static_cast<wl_seat**>(data);
    if (!*seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        *seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

} // namespace

CompositorKeymap::~CompositorKeymap() {
    detach();
    if (m_seat) wl_seat_destroy(m_seat);
    if (m_display) wl_display_disconnect(m_display);
}

void CompositorKeymap::attach(wl_seat* seat) {
    m_keyboard = wl_seat_get_keyboard(seat);
    wl_keyboard_add_listener(m_keyboard, &kKeyboardListener, this);
}

void CompositorKeymap::detach() {
    if (m_keyboard) wl_keyboard_destroy(m_keyboard);
    m_keyboard = nullptr;
}

void CompositorKeymap::take(int fd, uint32_t size) {
    if (size > 0) {
        void* text = mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
        if (text != MAP_FAILED) {
            const char* chars = static_cast<const char*>(text);
            m_known = m_layout.load(std::string(chars, strnlen(chars, size))) || m_known;
            munmap(text, size);
        }
    }
    close(fd);
}

std::unique_ptr<CompositorKeymap> CompositorKeymap::connect() {
    auto map = std::make_unique<CompositorKeymap>();
    map->m_display = wl_display_connect(nullptr);
    if (!map->m_display) return nullptr;
    wl_registry* registry = wl_display_get_registry(map->m_display);
    wl_registry_add_listener(registry, &kRegistryListener, &map->m_seat);
    wl_display_roundtrip(map->m_display);
    wl_registry_destroy(registry);
    if (!map->m_seat) return nullptr;
    map->attach(map->m_seat);
    if (wl_display_roundtrip(map->m_display) < 0 || !map->known()) return nullptr;
    return map;
}

bool CompositorKeymap::refresh() {
    return !m_display || wl_display_roundtrip(m_display) >= 0;
}

} // namespace kq
