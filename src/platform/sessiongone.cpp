#include "platform/sessiongone.h"

#include <string>
#include <unistd.h>

namespace kq {

void ExitSessionGone(std::string_view what) {
    const std::string line = "keyquill: " + std::string(what) + " went away; exiting\n";
    (void)!::write(2, line.data(), line.size());
    ::_exit(1);
}

} // namespace kq
