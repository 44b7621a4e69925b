#pragma once
// What a running Keyquill has changed in the keymap, recorded on the X server so that a Keyquill
// started after a crash can put it back.
//
// A record is a property of the root window, one per kind and running Keyquill, named after a
// small window of its own (gone with its connection, however the process ended) and holding a
// nonce that the window carries too, so a window id that the server has handed out again is not
// mistaken for a live owner. Whoever changes the keymap writes the record before the change and
// again after it, so at every moment it covers what the keymap holds.
#include <X11/Xlib.h>

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kq {

class X11Records {
public:
    explicit X11Records(Display* dpy);
    ~X11Records();
    X11Records(const X11Records&) = delete;
    X11Records& operator=(const X11Records&) = delete;

    // Writes this Keyquill's record of `kind` ("_KEYQUILL_SPARE_KEYS_", ...); an empty one is
    // deleted.
    void write(const char* kind, const std::vector<unsigned long>& data);
    // The records of `kind` left by Keyquills that are no longer running, deleted from the server
    // as they are read. The caller holds the server.
    static std::vector<std::vector<unsigned long>> takeLeftovers(Display* dpy, const char* kind);

private:
    Display* m_dpy;
    Window m_owner = 0;
    std::array<uint32_t, 2> m_nonce{};
    std::vector<std::string> m_written; // kinds with a record on the server now
};

} // namespace kq
