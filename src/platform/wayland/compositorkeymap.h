#pragma once
// The keymap a compositor hands every client's keyboard, the user's layout, kept up to date in a
// LayoutKeys: on desktops that type only through that layout it says which characters have keys.
#include "platform/wayland/layoutkeys.h"

#include <memory>

struct wl_display;
struct wl_seat;
struct wl_keyboard;

namespace kq {

class CompositorKeymap {
public:
    ~CompositorKeymap();
    // Listens on the keyboard of a seat of the caller's connection; the keymap comes with the
    // caller's next round trip.
    void attach(wl_seat* seat);
    // Lets go of the keyboard; before the caller's connection closes.
    void detach();
    // A connection of its own; nullptr when there is no compositor or it sends no keymap.
    static std::unique_ptr<CompositorKeymap> connect();
    // With a connection of its own: takes in a keymap the compositor changed since. False once
    // the compositor has gone; true without a connection of its own.
    bool refresh();

    bool known() const { return m_known; }
    LayoutKeys& layout() { return m_layout; }

    void take(int fd, uint32_t size); // a keymap event

private:
    LayoutKeys m_layout;
    bool m_known = false;
    wl_keyboard* m_keyboard = nullptr;
    wl_display* m_display = nullptr; // only when the connection is its own
    wl_seat* m_seat = nullptr;
};

} // namespace kq
