#pragma once
// A sway binding outlives the client that made it: if Keyquill were killed, TAB would stay
// swallowed until sway restarts. The watchdog is a small process of its own, in its own session
// (a kill of Keyquill's process group does not reach it), that holds one end of a pipe. When
// Keyquill ends in any way the pipe closes, and the watchdog sends sway the last message it was
// armed with (the unbinding of whatever is bound), then exits.
#include <string>
#include <sys/types.h>

namespace kq {

class SwayWatchdog {
public:
    SwayWatchdog() = default;
    SwayWatchdog(const SwayWatchdog&) = delete;
    SwayWatchdog& operator=(const SwayWatchdog&) = delete;
    // Disarms it: a normal end has unbound everything already.
    ~SwayWatchdog();

    bool start(const std::string& socketPath, std::string* error);
    // The IPC message (as framed on the socket) to send if Keyquill dies; empty for nothing.
    void arm(const std::string& message);
    pid_t pid() const { return m_pid; }

private:
    int m_pipe = -1;
    pid_t m_pid = -1;
};

} // namespace kq
