#pragma once
// KWin for the end-to-end tests: a private session bus, KWin on a virtual output, and the
// desktop portal with its KDE backend.
#include "desktop.h"
#include "portal_tree.h"
#include "xvfb.h"

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace kq::e2e {

// A private session bus, KWin on a virtual output, and the portal with its KDE backend, which the
// bus starts on first use. Quirk: the packaged kwin_wayland carries a file capability that cannot
// be granted in a container, so a copy runs (its name must still end in kwin_wayland).
class KwinSession {
public:
    bool start(std::string* error) {
        m_dir = RuntimeDir("kq-kwin");
        std::filesystem::copy_file("/usr/bin/kwin_wayland", m_dir / "kwin_wayland");
        std::istringstream bus(runCapture("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
        std::string address;
        bus >> address >> m_bus;
        if (address.empty()) return *error = "no session bus", false;
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + address,
                 "XDG_RUNTIME_DIR=" + m_dir.string(),
                 "WAYLAND_DISPLAY=" + (m_dir / "wayland-kq").string(),
                 "XDG_CURRENT_DESKTOP=KDE",
                 "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                 "XDG_CONFIG_HOME=" + (m_dir / "config").string()};
        // What the bus hands to the portal it starts: KDE's backend is a Wayland client of KWin.
        runCaptureWith(m_env, "dbus-update-activation-environment XDG_CURRENT_DESKTOP=KDE " + m_env[1] + " " +
                                  m_env[2] + " " + m_env[5] +
                                  " QT_QPA_PLATFORM=wayland KWIN_WAYLAND_NO_PERMISSION_CHECKS=1");
        m_kwin = spawnWith(m_env, {"sh", "-c",
                                   "exec " + (m_dir / "kwin_wayland").string() +
                                       " --virtual --socket wayland-kq --no-lockscreen >" +
                                       (m_dir / "log").string() + " 2>&1"});
        if (!WaitUntil([&] { return std::filesystem::exists(m_dir / "wayland-kq"); }, 5000))
            return *error = "KWin did not start: " + readFile((m_dir / "log").string()), false;
        return true;
    }
    void stop() {
        terminate(m_kwin);
        if (m_bus > 0) kill(m_bus, SIGTERM); // the portal and its backend end with their bus
        m_kwin = m_bus = 0;
    }
    std::vector<std::string> env(bool = false) const { return m_env; }
    // The user's layouts (as kxkbrc lists them) and the one in use, set as the keyboard settings
    // module does: the file, then KWin told to read it. True once KWin uses them.
    bool setLayouts(const std::string& list, int active) {
        std::filesystem::create_directories(m_dir / "config");
        std::ofstream(m_dir / "config" / "kxkbrc") << "[Layout]\nLayoutList=" << list << "\nUse=true\n";
        runCaptureWith(m_env, "dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig");
        const bool several = list.find(',') != std::string::npos;
        for (int i = 0; i < 300; ++i, Desktop::settle(10)) {
            const std::string got = layoutCall("getLayoutsList");
            if (!several) { // Plasma 5.27 drops the layout service for a single layout, 6.3 keeps it
                if (got.find("ServiceUnknown") != std::string::npos || got.find("not") != std::string::npos ||
                    got.find("a(sss) 1") == 0)
                    return true;
            } else if (got.find("a(sss) " + std::to_string(std::count(list.begin(), list.end(), ',') + 1)) ==
                       0) {
                return layoutCall("setLayout u " + std::to_string(active)) == "b true\n";
            }
        }
        return false;
    }
    // What KWin's layout service answers (busctl's output, or its error).
    std::string layoutCall(const std::string& methodAndArgs) const {
        return runCaptureWith(m_env, "busctl --user call org.kde.keyboard /Layouts org.kde.KeyboardLayouts " +
                                         methodAndArgs + " 2>&1");
    }
    PortalHold portal() const { return KeyquillPortalHold(m_env); }

private:
    std::filesystem::path m_dir;
    pid_t m_bus = 0, m_kwin = 0;
    std::vector<std::string> m_env;
};

} // namespace kq::e2e
