#include "platform/wayland/waylandconnection.h"

#include <wayland-client.h>

#include <cstring>
#include <utility>

namespace kq {
namespace {

void onGlobal(void* data, wl_registry* registry, uint32_t name, const char* interface, uint32_t version) {
    static_cast<WaylandConnection*>(data)->announce(registry, name, interface, version);
}
void onGlobalRemove(void*, wl_registry*, uint32_t) {}
const wl_registry_listener kRegistryListener{onGlobal, onGlobalRemove};

} // namespace

WaylandConnection::~WaylandConnection() {
    if (m_seat) wl_seat_destroy(m_seat);
    if (m_registry) wl_registry_destroy(m_registry);
    if (m_display) {
        wl_display_roundtrip(m_display);
        wl_display_disconnect(m_display);
    }
}

bool WaylandConnection::open(Global global) {
    m_global = std::move(global);
    m_display = wl_display_connect(nullptr);
    if (!m_display) return false;
    m_registry = wl_display_get_registry(m_display);
    wl_registry_add_listener(m_registry, &kRegistryListener, this);
    return roundTrip() && m_seat;
}

void WaylandConnection::announce(wl_registry* registry, uint32_t name, const char* interface,
                                 uint32_t version) {
    if (!m_seat && std::strcmp(interface, wl_seat_interface.name) == 0)
        m_seat = static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    else if (m_global)
        m_global(registry, name, interface, version);
}

bool WaylandConnection::roundTrip() {
    if (!m_dead && wl_display_roundtrip(m_display) < 0) m_dead = true;
    return !m_dead;
}

} // namespace kq
