#include <gtest/gtest.h>

#include "xvfb.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kq::e2e {

// In a forked child: runs the program, or ends the child when it cannot.
[[noreturn]] static void execute(const std::string& program, const std::vector<std::string>& args) {
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(program.c_str(), argv.data());
    _exit(127);
}

pid_t spawn(const std::string& program, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) execute(program, args);
    return pid < 0 ? 0 : pid;
}

pid_t spawnPiped(const std::string& program, const std::vector<std::string>& args, int* toChild,
                 int* fromChild) {
    int in[2] = {-1, -1}, out[2] = {-1, -1};
    if ((toChild && pipe(in) != 0) || pipe(out) != 0) return 0;
    const pid_t pid = fork();
    if (pid == 0) {
        if (toChild) dup2(in[0], 0);
        dup2(out[1], 1);
        execute(program, args);
    }
    if (toChild) {
        close(in[0]);
        *toChild = in[1];
    }
    close(out[1]);
    *fromChild = out[0];
    return pid < 0 ? 0 : pid;
}

bool waitExit(pid_t pid, int ms) {
    for (int i = 0; i < ms / 10; ++i, std::this_thread::sleep_for(std::chrono::milliseconds(10)))
        if (waitpid(pid, nullptr, WNOHANG) == pid) return true;
    return false;
}

void terminate(pid_t pid) {
    if (pid <= 0) return;
    kill(pid, SIGTERM);
    if (waitExit(pid, 2000)) return;
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
}

std::filesystem::path RuntimeDir(const std::string& name) {
    const auto dir = std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", dir.c_str(), 1); // a lock of its own: no second-instance question
    return dir;
}

std::string runCapture(const std::string& command) {
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (!p) return out;
    char buf[4096];
    size_t n = 0;
    while ((n = fread(buf, 1, sizeof buf, p)) > 0)
        out.append(buf, n);
    pclose(p);
    return out;
}

std::string runCaptureWith(const std::vector<std::string>& env, const std::string& command) {
    std::string line = "env";
    for (const auto& e : env)
        line += " '" + e + "'";
    return runCapture(line + " " + command);
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool PrivateXvfb::start(std::string* error) {
    // Xvfb picks a free display itself and writes its number to the pipe once it accepts
    // connections: two test programs started together never race for the same number.
    int fds[2];
    if (pipe(fds) != 0) return error && (*error = "pipe failed", false);
    m_pid = spawn("Xvfb", {"-displayfd", std::to_string(fds[1]), "-noreset", "-nolisten", "tcp", "-screen",
                           "0", "1024x768x24"});
    close(fds[1]);
    std::string number;
    pollfd pfd{fds[0], POLLIN, 0};
    char c = 0;
    while (m_pid && poll(&pfd, 1, 10000) > 0 && read(fds[0], &c, 1) == 1 && c != '\n')
        number += c;
    close(fds[0]);
    if (number.empty() || c != '\n') {
        stop();
        return error && (*error = "could not start Xvfb (is the xvfb package installed?)", false);
    }
    m_display = ":" + number;
    setenv("DISPLAY", m_display.c_str(), 1);
    return true;
}

void PrivateXvfb::stop() {
    terminate(std::exchange(m_pid, 0));
}

namespace {
PrivateXvfb g_xvfb;
struct XvfbEnvironment : ::testing::Environment {
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(g_xvfb.start(&error)) << error;
    }
    void TearDown() override { g_xvfb.stop(); }
};
const bool g_registered = RegisterSharedXvfb();
} // namespace

bool RegisterSharedXvfb() {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new XvfbEnvironment), true);
    return registered;
}

const std::string& XvfbDisplay() {
    return g_xvfb.display();
}

} // namespace kq::e2e
