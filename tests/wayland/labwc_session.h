#pragma once
// A headless labwc for the end-to-end tests (Debian 13 and later): a wlroots compositor with no
// IPC and no portal shortcuts of its own, whose key bindings run the command-line trigger, set up
// as the README tells its users: one binding per key, on its release, running `keyquill --tap KEY`
// (a binding on the press fires again with each autorepeat, and then no release binding runs).
#include "desktop.h"
#include "xvfb.h"

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kq::e2e {

class LabwcSession {
public:
    ~LabwcSession() { stop(); }
    static bool installed() { return std::filesystem::exists("/usr/bin/labwc"); }
    bool start(const std::string& keyquill, std::string* error) {
        m_dir = RuntimeDir("kq-labwc");
        std::filesystem::create_directories(m_dir / "config");
        std::ofstream rc(m_dir / "config" / "rc.xml");
        rc << "<?xml version=\"1.0\"?>\n<labwc_config><keyboard>\n";
        for (int f = 0; f <= 12; ++f)
            rc << "<keybind key=\"" << (f == 0 ? "Tab" : "F" + std::to_string(f))
               << "\" onRelease=\"yes\"><action name=\"Execute\" command=\"" << keyquill << " --tap "
               << (f == 0 ? "tab" : "f" + std::to_string(f)) << "\"/></keybind>\n";
        rc << "</keyboard></labwc_config>\n";
        rc.close();
        // labwc tells its own clients where it is; a startup command writes that down.
        const auto ready = m_dir / "ready";
        m_pid = spawn(
            "env",
            {"-i", "HOME=" + m_dir.string(), "XDG_RUNTIME_DIR=" + m_dir.string(), "WLR_BACKENDS=headless",
             "WLR_LIBINPUT_NO_DEVICES=1", "WLR_RENDERER=pixman", "PATH=/usr/bin:/bin", "sh", "-c",
             "exec labwc -C " + (m_dir / "config").string() + " -s 'sh -c \"echo $WAYLAND_DISPLAY " +
                 "$DISPLAY > " + ready.string() + "\"' >" + (m_dir / "log").string() + " 2>&1"});
        WaitUntil([&] { return readFile(ready.string()).find(' ') != std::string::npos; });
        std::istringstream names(readFile(ready.string()));
        names >> m_wayland >> m_x11;
        if (m_wayland.empty())
            return *error = "labwc did not start: " + readFile((m_dir / "log").string()), false;
        return true;
    }
    void stop() {
        terminate(m_pid);
        m_pid = 0;
    }
    // A client of this session (an X11 one through labwc's XWayland). Keyquill's trigger socket
    // is in the runtime folder, where the commands labwc runs look for it.
    std::vector<std::string> env(bool x11Client) const {
        std::vector<std::string> env{"XDG_RUNTIME_DIR=" + m_dir.string(),
                                     "WAYLAND_DISPLAY=" + (m_dir / m_wayland).string(),
                                     "SWAYSOCK=", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent"};
        if (x11Client) env.push_back("DISPLAY=" + m_x11);
        return env;
    }

private:
    std::filesystem::path m_dir;
    pid_t m_pid = 0;
    std::string m_wayland, m_x11;
};

} // namespace kq::e2e
