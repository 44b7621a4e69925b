#include "sway_session.h"

#include "xvfb.h"

#include <cstdlib>
#include <fstream>
#include <pwd.h>
#include <sstream>
#include <unistd.h>

namespace kq::e2e {
namespace fs = std::filesystem;

bool SwaySession::start(std::string* error) {
    m_dir = RuntimeDir("kq-" + m_name);
    // XWayland admits only sway's user; the tests' X11 clients run as root. The display names and
    // sway's socket are written once they are let in, so they also say XWayland is up.
    std::ofstream(m_dir / "config")
        << "xwayland enable\n"
        << "exec sh -c 'xhost +si:localuser:root >/dev/null 2>&1; echo $DISPLAY $WAYLAND_DISPLAY $SWAYSOCK > "
        << (m_dir / "display").string() << "'\n";
    std::vector<std::string> args;
    if (geteuid() == 0) {
        const char* user = std::getenv("KQ_SWAY_USER") ? std::getenv("KQ_SWAY_USER") : "keyquill-test";
        const passwd* pw = getpwnam(user);
        if (!pw)
            return *error = std::string("no user ") + user + " to run sway as (the test command creates it)",
                   false;
        for (const auto& p : {m_dir, m_dir / "config"})
            if (chown(p.c_str(), pw->pw_uid, pw->pw_gid) != 0) return *error = "chown failed", false;
        args = {"--reuid=" + std::to_string(pw->pw_uid), "--regid=" + std::to_string(pw->pw_gid),
                "--clear-groups", "env"};
    }
    const std::vector<std::string> run{"-i",
                                       "HOME=" + m_dir.string(),
                                       "XDG_RUNTIME_DIR=" + m_dir.string(),
                                       "WLR_BACKENDS=headless",
                                       "WLR_LIBINPUT_NO_DEVICES=1",
                                       "WLR_RENDERER=pixman",
                                       "PATH=/usr/bin:/bin",
                                       "sh",
                                       "-c",
                                       "exec sway -c " + (m_dir / "config").string() + " >" +
                                           (m_dir / "log").string() + " 2>&1"};
    args.insert(args.end(), run.begin(), run.end());
    m_pid = geteuid() == 0 ? spawn("setpriv", args) : spawn("env", args);
    for (int i = 0; i < 1000 && m_ipc.empty() && !waitExit(m_pid, 10); ++i) // 10 s, or until sway ended
        std::istringstream(readFile((m_dir / "display").string())) >> m_xDisplay >> m_wayland >> m_ipc;
    if (m_ipc.empty()) return *error = "sway did not start: " + readFile((m_dir / "log").string()), false;
    m_wayland = (m_dir / m_wayland).string(); // an absolute path (env)
    return true;
}

void SwaySession::stop() {
    if (m_pid > 0) terminate(m_pid);
    m_pid = 0;
    if (!m_dir.empty()) fs::remove_all(m_dir);
    m_dir.clear();
}

std::vector<std::string> SwaySession::env(bool x11Client) const {
    std::vector<std::string> vars{"WAYLAND_DISPLAY=" + m_wayland, "SWAYSOCK=" + m_ipc};
    if (x11Client) vars.push_back("DISPLAY=" + m_xDisplay);
    return vars;
}

std::string SwaySession::msg(const std::string& args) const {
    return runCapture("SWAYSOCK='" + m_ipc + "' swaymsg " + args + " 2>&1");
}

bool UserKeyboard::start(const std::string& program, const std::vector<std::string>& env) {
    std::vector<std::string> args = env;
    args.push_back(program);
    int to = -1, from = -1;
    m_pid = spawnPiped("env", args, &to, &from);
    if (!m_pid) return false;
    m_to = fdopen(to, "w");
    m_from = fdopen(from, "r");
    return command("sync");
}

void UserKeyboard::stop() {
    if (m_to) fclose(m_to);
    if (m_from) fclose(m_from);
    m_to = m_from = nullptr;
    terminate(m_pid);
    m_pid = 0;
}

bool UserKeyboard::command(const std::string& line) {
    char answer[16] = {};
    return m_to && std::fprintf(m_to, "%s\n", line.c_str()) > 0 && std::fflush(m_to) == 0 &&
           std::fgets(answer, sizeof answer, m_from) && std::string(answer) == "ok\n";
}

} // namespace kq::e2e
