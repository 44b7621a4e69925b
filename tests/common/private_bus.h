#pragma once
// A D-Bus daemon of the test's own, for the tests that link no Xvfb (the mock portal's) too.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/types.h>
#include <unistd.h>

namespace kq::e2e {

// A session bus with no service directories: nothing the machine has (portals, input methods)
// starts on it. Its address ("" when it did not start), and *pid (0 then).
inline std::string StartPrivateBus(pid_t* pid) {
    const auto config = std::filesystem::temp_directory_path() / ("kq-bus-" + std::to_string(getpid()));
    std::ofstream(config) << "<busconfig><listen>unix:tmpdir=/tmp</listen><policy context=\"default\">"
                             "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
                             "<allow own=\"*\"/></policy></busconfig>\n";
    // The daemon prints its address and process id once it listens, then leaves the pipe.
    FILE* out = popen(
        ("dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" + config.string()).c_str(), "r");
    char address[512] = "";
    int id = 0;
    const bool started = out && fscanf(out, "%511s %d", address, &id) == 2;
    if (out) pclose(out);
    std::filesystem::remove(config);
    *pid = started ? id : 0;
    return started ? address : "";
}

} // namespace kq::e2e
