#include "platform/sway/swaywatchdog.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kq {
namespace {

// The child of a fork in a threaded program may only make async-signal-safe calls: no
// allocation, so everything it needs is static and prepared before the fork.
constexpr size_t kMaxMessage = 1 << 18;
char g_current[kMaxMessage];
size_t g_currentLen = 0;
char g_incoming[kMaxMessage + 4];
size_t g_incomingLen = 0;
sockaddr_un g_address{};

// Keeps the last whole record ([length][bytes]) of what has arrived as the message to send.
void takeRecords() {
    for (;;) {
        uint32_t len = 0;
        if (g_incomingLen < 4) return;
        std::memcpy(&len, g_incoming, 4);
        if (len > kMaxMessage) _exit(2);
        if (g_incomingLen < 4 + len) return;
        std::memcpy(g_current, g_incoming + 4, len);
        g_currentLen = len;
        std::memmove(g_incoming, g_incoming + 4 + len, g_incomingLen - 4 - len);
        g_incomingLen -= 4 + len;
    }
}

void sendToSway() {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&g_address), sizeof g_address) != 0) return;
    size_t done = 0;
    while (done < g_currentLen) {
        const ssize_t n = ::write(fd, g_current + done, g_currentLen - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
    // Wait for the reply, so the commands have run before the watchdog is gone.
    pollfd p{fd, POLLIN, 0};
    char reply[256];
    if (::poll(&p, 1, 3000) > 0) (void)!::read(fd, reply, sizeof reply);
    ::close(fd);
}

[[noreturn]] void watch(int readEnd) {
    ::setsid();
    // Hold nothing of Keyquill's open: not its Wayland or X connections (the compositor would
    // keep its virtual keyboard), not the pipes a parent process reads its output from.
    const int null = ::open("/dev/null", O_RDWR);
    for (int fd = 0; fd < 3; ++fd)
        ::dup2(null, fd);
    ::dup2(readEnd, 3);
    ::close_range(4, ~0U, 0);
    for (;;) {
        const ssize_t n = ::read(3, g_incoming + g_incomingLen, sizeof g_incoming - g_incomingLen);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        g_incomingLen += static_cast<size_t>(n);
        takeRecords();
    }
    if (g_currentLen) sendToSway();
    _exit(0);
}

} // namespace

bool SwayWatchdog::start(const std::string& socketPath, std::string* error) {
    if (socketPath.size() >= sizeof g_address.sun_path) return false;
    g_address.sun_family = AF_UNIX;
    std::memcpy(g_address.sun_path, socketPath.c_str(), socketPath.size() + 1);
    int fds[2];
    // A socket pair, not a pipe: a write after the watchdog died must not raise SIGPIPE.
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) {
        if (error) *error = std::string("no pipe for the watchdog: ") + std::strerror(errno);
        return false;
    }
    m_pid = ::fork();
    if (m_pid == 0) {
        ::close(fds[1]);
        watch(fds[0]);
    }
    ::close(fds[0]);
    if (m_pid < 0) {
        ::close(fds[1]);
        if (error) *error = std::string("cannot start the watchdog: ") + std::strerror(errno);
        return false;
    }
    m_pipe = fds[1];
    return true;
}

void SwayWatchdog::arm(const std::string& message) {
    if (m_pipe < 0 || message.size() > kMaxMessage) return;
    const auto len = static_cast<uint32_t>(message.size());
    std::string record(reinterpret_cast<const char*>(&len), 4);
    record += message;
    size_t done = 0;
    while (done < record.size()) {
        const ssize_t n = ::send(m_pipe, record.data() + done, record.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        done += static_cast<size_t>(n);
    }
}

SwayWatchdog::~SwayWatchdog() {
    if (m_pipe < 0) return;
    arm({});
    ::close(m_pipe);
}

} // namespace kq
