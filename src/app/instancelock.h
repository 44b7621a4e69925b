#pragma once
// Tells whether another Keyquill of this user is already running: a lock file held for the
// whole run (released by the system when the process ends, however it ends).
#include <string>

namespace kq {

class InstanceLock {
public:
    explicit InstanceLock(std::string path = defaultPath()) : m_path(std::move(path)) {}
    ~InstanceLock();
    // True when this process now holds the lock; false when another process holds it.
    bool acquire();
    static std::string defaultPath();

private:
    std::string m_path;
    int m_fd = -1;
};

} // namespace kq
