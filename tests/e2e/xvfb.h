#pragma once
// A private Xvfb for end-to-end tests: on a display number it picks itself, stopped at the end.
#include "private_bus.h"

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace kq::e2e {

class PrivateXvfb {
public:
    // Starts Xvfb (-noreset so the keymap and repeat settings survive clients leaving) and sets
    // DISPLAY. Returns false with a reason when it cannot.
    bool start(std::string* error);
    void stop();
    ~PrivateXvfb() { stop(); }
    const std::string& display() const { return m_display; }
    pid_t pid() const { return m_pid; }

private:
    pid_t m_pid = 0;
    std::string m_display;
};

// One private Xvfb for a whole test program (each that links this), started before its first test
// and stopped after its last; the tests read its display name.
const std::string& XvfbDisplay();
// Registers it now, if it is not yet: an environment registered after it is torn down before it.
bool RegisterSharedXvfb();

// Starts a program with arguments; returns its pid (0 on failure).
pid_t spawn(const std::string& program, const std::vector<std::string>& args);
// The same with pipes: *toChild (if given) is its standard input, *fromChild its standard output.
pid_t spawnPiped(const std::string& program, const std::vector<std::string>& args, int* toChild,
                 int* fromChild);
void terminate(pid_t pid);
// True when the process ended within `ms`.
bool waitExit(pid_t pid, int ms);
// An empty folder of the test's own, also made the XDG runtime folder (where keyquill keeps its
// single-instance lock). The compositor sessions make theirs with it too, before each test makes
// its own.
std::filesystem::path RuntimeDir(const std::string& name);
// Runs a shell command and returns its standard output.
std::string runCapture(const std::string& command);
// The same with these variables ("NAME=value") added to its environment.
std::string runCaptureWith(const std::vector<std::string>& env, const std::string& command);
std::string readFile(const std::string& path);
// The shared Xvfb's keymap, as xkbcomp writes it out.
inline std::string keymapDump() {
    return runCapture("xkbcomp -xkb " + XvfbDisplay() + " - 2>/dev/null");
}

inline std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}
// Starts `command` with these variables ("NAME=value") added to its environment.
inline pid_t spawnWith(const std::vector<std::string>& env, const std::vector<std::string>& command) {
    return spawn("env", concat(env, command));
}

} // namespace kq::e2e
