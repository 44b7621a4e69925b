#include "platform/trigger/triggerhotkeys.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace kq {
namespace {

constexpr int kReadMs = 200; // a command writes its one line at once; a silent one is dropped

bool addressOf(const std::string& path, sockaddr_un* addr) {
    *addr = {};
    addr->sun_family = AF_UNIX;
    if (path.size() >= sizeof addr->sun_path) return false;
    std::memcpy(addr->sun_path, path.c_str(), path.size() + 1);
    return true;
}

int connectTo(const std::string& path) {
    sockaddr_un addr;
    if (!addressOf(path, &addr)) return -1;
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0) return fd;
    ::close(fd);
    return -1;
}

// "press tab", "release f3", "tap tab" (a press and its release).
void parse(const std::string& line, std::vector<HotkeyEvent>* events) {
    const size_t space = line.find(' ');
    if (space == std::string::npos) return;
    const std::string verb = line.substr(0, space);
    const auto key = HotkeyFromId(line.substr(space + 1));
    if (!key || *key == Hotkey::CapsLock) return;
    if (verb == "press" || verb == "tap") events->push_back({*key, false});
    if (verb == "release" || verb == "tap") events->push_back({*key, true});
}

} // namespace

std::string TriggerHotkeys::socketPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime ? runtime : "/tmp";
    return dir + "/keyquill-" + std::to_string(::getuid()) + ".trigger";
}

std::unique_ptr<TriggerHotkeys> TriggerHotkeys::open(std::string* error) {
    const std::string path = socketPath();
    sockaddr_un addr;
    if (!addressOf(path, &addr)) return *error = "the runtime folder's path is too long", nullptr;
    if (const int other = connectTo(path); other >= 0) {
        ::close(other);
        return *error = "another Keyquill takes the command-line hotkeys (" + path + ")", nullptr;
    }
    ::unlink(path.c_str()); // left by a Keyquill that did not end cleanly
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // Only the user may trigger: the socket is made with no permissions for anyone else.
    const mode_t before = ::umask(0177);
    const bool bound = fd >= 0 && ::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    ::umask(before);
    if (!bound || ::listen(fd, 16) != 0) {
        if (fd >= 0) ::close(fd);
        return *error = "cannot listen on " + path + ": " + std::strerror(errno), nullptr;
    }
    return std::unique_ptr<TriggerHotkeys>(new TriggerHotkeys(fd, path));
}

TriggerHotkeys::~TriggerHotkeys() {
    ::close(m_listen);
    ::unlink(m_path.c_str());
}

bool TriggerHotkeys::read(std::vector<HotkeyEvent>* events) {
    for (;;) {
        const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED;
        std::string line;
        char buf[64];
        for (pollfd p{fd, POLLIN, 0};
             line.find('\n') == std::string::npos && line.size() < 64 && ::poll(&p, 1, kReadMs) == 1;) {
            const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
            if (n <= 0) break;
            line.append(buf, static_cast<size_t>(n));
        }
        ::close(fd);
        parse(line.substr(0, line.find('\n')), events);
    }
}

bool SendTrigger(const std::string& verb, const std::string& key, std::string* error) {
    if ((verb != "press" && verb != "release" && verb != "tap") || !HotkeyFromId(key) || key == "caps-lock")
        return *error = "usage: keyquill --press|--release|--tap tab|f1..f12", false;
    const std::string path = TriggerHotkeys::socketPath();
    const int fd = connectTo(path);
    if (fd < 0) return *error = "no Keyquill is running to take the key (" + path + ")", false;
    const std::string line = verb + " " + key + "\n";
    const bool sent = ::send(fd, line.data(), line.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(line.size());
    ::close(fd);
    if (!sent) *error = "Keyquill did not take the key";
    return sent;
}

} // namespace kq
