#pragma once
// A headless sway for the Wayland tests (no GPU, no input devices), with XWayland. sway will not
// run as root: under root it runs as the user KQ_SWAY_USER (default "keyquill-test"), which the
// test command creates.
#include <cstdio>
#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kq::e2e {

class SwaySession {
public:
    // `name` tells the sessions of one test program apart (their folders).
    explicit SwaySession(std::string name = "sway") : m_name(std::move(name)) {}
    bool start(std::string* error);
    void stop();
    ~SwaySession() { stop(); }

    // `env` arguments that make a program a client of this session: WAYLAND_DISPLAY (an absolute
    // path) and SWAYSOCK, and DISPLAY (its XWayland) for an X11 client.
    std::vector<std::string> env(bool x11Client) const;
    // Runs swaymsg with these arguments and returns its output.
    std::string msg(const std::string& args) const;

private:
    pid_t m_pid = 0;
    std::filesystem::path m_dir;
    std::string m_name, m_wayland, m_ipc, m_xDisplay;
};

// The user's own keyboard: a second virtual keyboard with an ordinary layout (wl_keys.cpp),
// driven line by line.
class UserKeyboard {
public:
    ~UserKeyboard() { stop(); }
    bool start(const std::string& program, const std::vector<std::string>& env);
    void stop();
    // "layout de", "down 15", "up 15", "tap 15", "sync": true once the compositor has handled it.
    bool command(const std::string& line);
    bool tap(int key) { return command("tap " + std::to_string(key)); }

private:
    pid_t m_pid = 0;
    FILE* m_to = nullptr;
    FILE* m_from = nullptr;
};

} // namespace kq::e2e
