#pragma once
// A connection to sway's IPC socket (the i3 protocol: "i3-ipc", payload length, message type,
// JSON payload). One connection runs commands and waits for their replies; a second one,
// subscribed to events, is read without blocking from the UI thread's event loop.
#include <cstdint>
#include <string>
#include <vector>

namespace kq {

class SwayIpc {
public:
    SwayIpc() = default;
    SwayIpc(const SwayIpc&) = delete;
    SwayIpc& operator=(const SwayIpc&) = delete;
    ~SwayIpc();

    bool connect(const std::string& socketPath, std::string* error);
    int fd() const { return m_fd; }

    // Runs commands and waits for the reply. False when the connection is gone.
    bool command(const std::string& commands, std::string* reply);
    // Subscribes this connection to events (a JSON array of their names), then reads it with
    // readEvents(). False when sway refuses.
    bool subscribe(const std::string& eventsJson);
    // The payloads of the complete events that have arrived, without blocking. `closed` is set
    // when sway has gone away.
    std::vector<std::string> readEvents(bool* closed);

    // The bytes of one message, as sent on the socket.
    static std::string frame(uint32_t type, const std::string& payload);
    static constexpr uint32_t kRunCommand = 0;
    static constexpr uint32_t kSubscribe = 2;

private:
    bool request(uint32_t type, const std::string& payload, std::string* reply);
    // Pops one whole message off m_in; false when more bytes are needed.
    bool takeMessage(uint32_t* type, std::string* payload);

    int m_fd = -1;
    std::string m_in;
};

} // namespace kq
