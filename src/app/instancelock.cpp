#include "app/instancelock.h"

#include <cstdlib>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace kq {

std::string InstanceLock::defaultPath() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string dir = runtime && *runtime ? runtime : "/tmp";
    return dir + "/keyquill-" + std::to_string(getuid()) + ".lock";
}

bool InstanceLock::acquire() {
    if (m_fd >= 0) return true;
    m_fd = open(m_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (m_fd < 0) return true; // cannot tell: do not stop the user from working
    if (flock(m_fd, LOCK_EX | LOCK_NB) == 0) return true;
    close(m_fd);
    m_fd = -1;
    return false;
}

InstanceLock::~InstanceLock() {
    if (m_fd >= 0) close(m_fd);
}

} // namespace kq
