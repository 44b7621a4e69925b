#include "platform/sway/swayipc.h"

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace kq {
namespace {

constexpr char kMagic[] = {'i', '3', '-', 'i', 'p', 'c'};
constexpr size_t kHeader = sizeof kMagic + 8;
constexpr uint32_t kEventBit = 0x80000000u;

bool writeAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) {
            pollfd p{fd, POLLOUT, 0};
            ::poll(&p, 1, 1000);
            continue;
        }
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

} // namespace

SwayIpc::~SwayIpc() {
    if (m_fd >= 0) ::close(m_fd);
}

bool SwayIpc::connect(const std::string& socketPath, std::string* error) {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    if (socketPath.empty() || socketPath.size() >= sizeof addr.sun_path) {
        if (error) *error = "no usable sway IPC socket path";
        return false;
    }
    std::memcpy(addr.sun_path, socketPath.c_str(), socketPath.size() + 1);
    m_fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (m_fd < 0 || ::connect(m_fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (error) *error = "cannot connect to sway's IPC socket " + socketPath + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

std::string SwayIpc::frame(uint32_t type, const std::string& payload) {
    std::string out(kMagic, sizeof kMagic);
    const auto size = static_cast<uint32_t>(payload.size());
    out.append(reinterpret_cast<const char*>(&size), 4);
    out.append(reinterpret_cast<const char*>(&type), 4);
    return out + payload;
}

bool SwayIpc::takeMessage(uint32_t* type, std::string* payload) {
    if (m_in.size() < kHeader) return false;
    uint32_t size = 0;
    std::memcpy(&size, m_in.data() + sizeof kMagic, 4);
    std::memcpy(type, m_in.data() + sizeof kMagic + 4, 4);
    if (m_in.size() < kHeader + size) return false;
    payload->assign(m_in, kHeader, size);
    m_in.erase(0, kHeader + size);
    return true;
}

bool SwayIpc::request(uint32_t type, const std::string& payload, std::string* reply) {
    if (m_fd < 0 || !writeAll(m_fd, frame(type, payload))) return false;
    char buf[8192];
    for (;;) {
        uint32_t got = 0;
        std::string body;
        while (takeMessage(&got, &body))
            if (got == type) {
                if (reply) *reply = std::move(body);
                return true;
            }
        pollfd p{m_fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0) return false;
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (n <= 0) return false;
        m_in.append(buf, static_cast<size_t>(n));
    }
}

bool SwayIpc::command(const std::string& commands, std::string* reply) {
    return request(kRunCommand, commands, reply);
}

bool SwayIpc::subscribe(const std::string& eventsJson) {
    std::string reply;
    return request(kSubscribe, eventsJson, &reply) && reply.find("true") != std::string::npos;
}

std::vector<std::string> SwayIpc::readEvents(bool* closed) {
    char buf[8192];
    for (;;) {
        const ssize_t n = ::recv(m_fd, buf, sizeof buf, 0);
        if (n > 0) {
            m_in.append(buf, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (closed) *closed = n == 0 || (n < 0 && errno != EAGAIN);
        break;
    }
    std::vector<std::string> events;
    uint32_t type = 0;
    std::string body;
    while (takeMessage(&type, &body))
        if (type & kEventBit) events.push_back(std::move(body));
    return events;
}

} // namespace kq
