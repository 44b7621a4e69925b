#include <gtest/gtest.h>

#include "xvfb.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace kq::e2e {

pid_t spawn(const std::string& program, const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid != 0) return pid < 0 ? 0 : pid;
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    execvp(program.c_str(), argv.data());
    _exit(127);
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

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool PrivateXvfb::start(std::string* error) {
    for (int n = 70; n < 200; ++n) {
        const std::string sock = "/tmp/.X11-unix/X" + std::to_string(n);
        const std::string lock = "/tmp/.X" + std::to_string(n) + "-lock";
        struct stat st {};
        if (stat(sock.c_str(), &st) == 0 || stat(lock.c_str(), &st) == 0) continue;
        m_display = ":" + std::to_string(n);
        m_pid = spawn("Xvfb", {m_display, "-noreset", "-nolisten", "tcp", "-screen", "0", "1024x768x24"});
        for (int i = 0; i < 500 && m_pid; ++i) {
            if (stat(sock.c_str(), &st) == 0) {
                setenv("DISPLAY", m_display.c_str(), 1);
                std::this_thread::sleep_for(std::chrono::milliseconds(100));
                return true;
            }
            if (waitpid(m_pid, nullptr, WNOHANG) == m_pid) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        stop();
    }
    if (error) *error = "could not start Xvfb (is the xvfb package installed?)";
    return false;
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
} // namespace

const std::string& XvfbDisplay() {
    return g_xvfb.display();
}

bool RegisterSharedXvfb() {
    static const bool registered = (::testing::AddGlobalTestEnvironment(new XvfbEnvironment), true);
    return registered;
}

} // namespace kq::e2e
