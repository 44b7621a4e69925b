#pragma once
// A typer's own connection to the compositor: the display, its registry and the first seat. The
// typer binds the globals it needs as they are announced, and creates its objects after open();
// it destroys them before this goes (declare this first among its members).
#include <cstdint>
#include <functional>

struct wl_display;
struct wl_registry;
struct wl_seat;

namespace kq {

class WaylandConnection {
public:
    // A global other than the seat: the registry, its name, interface and version.
    using Global = std::function<void(wl_registry*, uint32_t, const char*, uint32_t)>;

    WaylandConnection() = default;
    WaylandConnection(const WaylandConnection&) = delete;
    WaylandConnection& operator=(const WaylandConnection&) = delete;
    ~WaylandConnection();

    // Connects, and hands every global announced to `global` within one round trip. False when
    // there is no compositor or it has no seat.
    bool open(Global global);
    wl_display* display() const { return m_display; }
    wl_seat* seat() const { return m_seat; }
    // False once the compositor has gone, and from then on.
    bool roundTrip();
    bool alive() const { return !m_dead; }

    void announce(wl_registry* registry, uint32_t name, const char* interface, uint32_t version);

private:
    wl_display* m_display = nullptr;
    wl_registry* m_registry = nullptr;
    wl_seat* m_seat = nullptr;
    Global m_global;
    bool m_dead = false;
};

} // namespace kq
