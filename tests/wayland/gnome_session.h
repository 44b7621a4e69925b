#pragma once
// GNOME Shell for the end-to-end tests: headless, on private session and system buses (the shell
// aborts without a system bus; a second session-type bus stands in for it), in a home of its own
// where Keyquill's extension is installed and turned on before the shell starts (a shell sees
// only the extensions that were there when it started). The user's keyboard is mutter's own
// remote-desktop service, one session held open on one connection.
#include "desktop.h"
#include "portal_tree.h"
#include "xvfb.h"

#include <systemd/sd-bus.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kq::e2e {

class GnomeSession {
public:
    ~GnomeSession() { stop(); }
    // `extension`: the folder of the extension's built form, or empty for a shell without it.
    // `pinyin`: the user's input source is IBus's Pinyin engine.
    bool start(const std::string& extension, std::string* error, bool pinyin = false) {
        m_dir = RuntimeDir(extension.empty() ? "kq-gnome-portals" : pinyin ? "kq-gnome-ibus" : "kq-gnome");
        const auto home = m_dir / "home";
        m_env = {"DBUS_SESSION_BUS_ADDRESS=unix:path=" + (m_dir / "session_bus").string(),
                 "DBUS_SYSTEM_BUS_ADDRESS=unix:path=" + (m_dir / "system_bus").string(),
                 "XDG_RUNTIME_DIR=" + m_dir.string(),
                 "WAYLAND_DISPLAY=" + (m_dir / "wayland-0").string(),
                 "HOME=" + home.string(),
                 "XDG_CONFIG_HOME=" + (home / ".config").string(),
                 "XDG_DATA_HOME=" + (home / ".local/share").string(),
                 "XDG_CACHE_HOME=" + (home / ".cache").string(),
                 "XDG_CURRENT_DESKTOP=GNOME",
                 "XDG_SESSION_TYPE=wayland", // GNOME's portal shows no dialog without it
                 "GTK_A11Y=none",
                 "NO_AT_BRIDGE=1"};
        // The services a bus starts (dconf among them) get its environment: the private home.
        if (!startBus("session") || !startBus("system")) return *error = "no private buses", false;
        if (!extension.empty()) {
            const auto dir = home / ".local/share/gnome-shell/extensions";
            std::filesystem::create_directories(dir);
            std::filesystem::create_directory_symlink(extension,
                                                      dir / std::filesystem::path(extension).filename());
            const std::string uuid = std::filesystem::path(extension).filename().string();
            gsettings("set org.gnome.shell disable-user-extensions false");
            gsettings("set org.gnome.shell enabled-extensions \"['" + uuid + "']\"");
        }
        // The shell starts IBus where it is installed; without Pinyin it finds an ibus-daemon that
        // ends at once.
        std::filesystem::create_directories(m_dir / "bin");
        if (pinyin) {
            gsettings("set org.gnome.desktop.input-sources sources \"[('ibus', 'libpinyin')]\"");
        } else {
            std::ofstream(m_dir / "bin/ibus-daemon") << "#!/bin/sh\nexit 1\n";
            std::filesystem::permissions(m_dir / "bin/ibus-daemon", std::filesystem::perms::owner_all);
        }
        // Unsafe mode lets the tests ask the shell which window has the focus.
        m_shell = spawnWith(m_env, {"sh", "-c",
                                    "PATH=" + (m_dir / "bin").string() +
                                        ":$PATH exec gnome-shell --wayland --headless --unsafe-mode "
                                        "--virtual-monitor 1280x800 >" +
                                        (m_dir / "log").string() + " 2>&1"});
        WaitUntil([&] { return std::filesystem::exists(m_dir / "wayland-0") && !x11Display().empty(); },
                  15000);
        if (x11Display().empty()) return *error = "GNOME Shell did not start: " + log(), false;
        if (!openKeyboard()) return *error = "mutter's remote desktop gave no keyboard", false;
        if (pinyin && !waitForPinyin()) return *error = "IBus did not start with Pinyin", false;
        return extension.empty() || WaitUntil([&] { return extensionUp(); }) ||
               (*error = "the extension did not start: " + log(), false);
    }
    // Keyquill without its extension, as a person who allows what GNOME asks: the portal knows a
    // program outside a sandbox by its desktop file, and each dialog (binding the keys; typing, at
    // the first line) is answered with keys once it has the focus.
    void allowKeyquill(const std::string& program) {
        // Quirk: a switch in GTK changes only at the end of its animation, so a dialog's switch
        // and the button it unlocks, pressed at once, would not take.
        gsettings("set org.gnome.desktop.interface enable-animations false");
        const auto apps = m_dir / "home/.local/share/applications";
        std::filesystem::create_directories(apps);
        std::ofstream(apps / "io.github.wrenfield.Keyquill.desktop")
            << "[Desktop Entry]\nType=Application\nName=Keyquill\nExec=" << program << "\n";
        m_user = std::thread([this] { answerDialogs(); });
    }
    // The dialogs answered so far, and whether the next one that asks to let Keyquill type is
    // refused.
    std::atomic<int> dialogsAnswered{0};
    std::atomic<bool> refuseTyping{false};

    void stop() {
        m_stopping = true;
        if (m_user.joinable()) m_user.join();
        m_stopping = false;
        sd_bus_flush_close_unref(m_bus);
        m_bus = nullptr;
        terminate(m_shell);
        for (pid_t bus : m_buses)
            terminate(bus);
        m_buses.clear();
        m_shell = 0;
    }
    // The environment of a client; an X11 one goes to the shell's Xwayland, with the key it
    // hands out to its own clients.
    std::vector<std::string> env(bool x11Client) const {
        auto env = m_env;
        if (!x11Client) return env;
        env.push_back("DISPLAY=" + x11Display());
        for (const auto& f : std::filesystem::directory_iterator(m_dir))
            if (f.path().filename().string().rfind(".mutter-Xwaylandauth", 0) == 0)
                env.push_back("XAUTHORITY=" + f.path().string());
        return env;
    }
    std::string log() const { return readFile((m_dir / "log").string()); }
    std::string x11Display() const {
        std::smatch m;
        const std::string text = log();
        return std::regex_search(text, m, std::regex("Using public X11 display (:[0-9]+)")) ? m[1].str() : "";
    }
    // A key of the user's keyboard, by evdev code; true once mutter has taken it.
    bool key(int code, bool down) {
        std::lock_guard<std::mutex> one(m_keys); // a user who answers dialogs presses keys too
        return sd_bus_call_method(m_bus, "org.gnome.Mutter.RemoteDesktop", m_session.c_str(),
                                  "org.gnome.Mutter.RemoteDesktop.Session", "NotifyKeyboardKeycode", nullptr,
                                  nullptr, "ub", static_cast<uint32_t>(code), down ? 1 : 0) >= 0;
    }
    // What busctl answers on the shell's session bus ("b true", "as 2 "Tab" "F1""), or "".
    std::string busctl(const std::string& args) const {
        return runCaptureWith(m_env, "busctl --user " + args + " 2>/dev/null");
    }
    // The keys Keyquill's extension holds now, as busctl lists the shell's names for them.
    std::string bound() const { return busctl(std::string("get-property ") + kExtension + " Bound"); }
    // The lock as the shell has it (asked of Keyquill's extension, which answers anyone this).
    bool capsLocked() const { return busctl(std::string("call ") + kExtension + " CapsLock") == "b true\n"; }
    // The title of the window that has the keyboard focus, as the shell's Eval answers it.
    std::string focusTitle() const { return eval("global.display.focus_window?.get_title() ?? \"\""); }
    // What the shell's Eval answers for this JavaScript, as busctl prints it.
    std::string eval(const std::string& js) const {
        return busctl("call org.gnome.Shell /org/gnome/Shell org.gnome.Shell Eval s '" + js + "'");
    }
    PortalHold portal() const { return KeyquillPortalHold(m_env); }
    // The shell's major version (43, 48...).
    static int version() {
        return std::atoi(runCapture("gnome-shell --version | tr -dc 0-9. | cut -d. -f1").c_str());
    }
    std::string gsettings(const std::string& args) const {
        return runCaptureWith(m_env, "gsettings " + args + " 2>&1");
    }

private:
    // Alt and the underlined letter: Tab, the usual way through a dialog, may be a hotkey already.
    void answerDialogs() {
        constexpr int kEscape = 1, kAlt = 56, kA = 30, kI = 23, kS = 31;
        const auto chord = [&](int code) {
            key(kAlt, true), key(code, true), key(code, false), key(kAlt, false);
        };
        while (!m_stopping) {
            const std::string title = focusTitle();
            const bool shortcuts = title.find("Add Keyboard Shortcuts") != std::string::npos;
            if (shortcuts || title.find("Remote Desktop") != std::string::npos) {
                // Quirk: a dialog may miss the keys of its first moments; the user tries again
                // while it is there.
                const bool refuse = !shortcuts && refuseTyping.exchange(false);
                for (bool gone = false; !gone && !m_stopping;) {
                    if (refuse) {
                        key(kEscape, true), key(kEscape, false);
                    } else {
                        if (!shortcuts) chord(kI); // "Allow Remote Interaction" starts switched off
                        chord(shortcuts ? kA : kS);
                    }
                    gone = WaitUntil([&] { return focusTitle() != title; }, 1000);
                }
                ++dialogsAnswered;
            }
            Desktop::settle(100);
        }
    }
    // Quirk: the shell starts IBus again once Xwayland has started (on demand), and the keys of
    // that moment meet no input method: Xwayland starts now, and IBus is waited for.
    bool waitForPinyin() {
        runCaptureWith(env(true), "xdpyinfo >/dev/null 2>&1");
        return WaitUntil([&] {
            // The daemon the address files name, once it is the one started again.
            return runCapture("for f in " + (m_dir / "home/.config/ibus/bus").string() +
                              "/*; do [ -f \"$f\" ] && . \"$f\"; done; grep -qs -- --xim "
                              "/proc/$IBUS_DAEMON_PID/cmdline "
                              "&& IBUS_ADDRESS=$IBUS_ADDRESS ibus engine 2>/dev/null") == "libpinyin\n";
        });
    }
    bool startBus(const std::string& name) {
        const auto socket = m_dir / (name + "_bus");
        m_buses.push_back(spawnWith(
            m_env, {"dbus-daemon", "--session", "--nofork", "--address=unix:path=" + socket.string()}));
        return WaitUntil([&] { return std::filesystem::exists(socket); }, 3000);
    }
    bool openKeyboard() {
        if (sd_bus_new(&m_bus) < 0) return false;
        const std::string address = m_env[0].substr(m_env[0].find('=') + 1);
        sd_bus_set_address(m_bus, address.c_str());
        sd_bus_set_bus_client(m_bus, 1);
        sd_bus_message* reply = nullptr;
        const char* path = nullptr;
        bool ok = sd_bus_start(m_bus) >= 0;
        // The shell's services come up after its display does.
        for (int i = 0; ok && i < 1000 && !reply; ++i)
            if (sd_bus_call_method(m_bus, "org.gnome.Mutter.RemoteDesktop", "/org/gnome/Mutter/RemoteDesktop",
                                   "org.gnome.Mutter.RemoteDesktop", "CreateSession", nullptr, &reply,
                                   "") < 0)
                Desktop::settle(10);
        ok = ok && reply && sd_bus_message_read(reply, "o", &path) >= 0;
        if (ok) m_session = path;
        sd_bus_message_unref(reply);
        ok = ok &&
             sd_bus_call_method(m_bus, "org.gnome.Mutter.RemoteDesktop", m_session.c_str(),
                                "org.gnome.Mutter.RemoteDesktop.Session", "Start", nullptr, nullptr, "") >= 0;
        // The headless shell starts in the overview, which holds the keyboard: leave it once the
        // shell says it has started. Quirk: Escape during the overview's opening animation (GNOME
        // 48) cuts it short so that the start never completes, and the shell then hands no grabbed
        // key to anyone for the rest of the session.
        ok = ok && WaitUntil([&] { return log().find("GNOME Shell started at") != std::string::npos; });
        return ok &&
               (!overview() || (key(1, true) && key(1, false) && WaitUntil([&] { return !overview(); })));
    }
    bool extensionUp() const {
        return busctl("call org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus NameHasOwner s "
                      "io.github.wrenfield.Keyquill.Shell") == "b true\n";
    }
    bool overview() const {
        return busctl("get-property org.gnome.Shell /org/gnome/Shell org.gnome.Shell OverviewActive") ==
               "b true\n";
    }

    // Keyquill's extension on the shell's bus: service, object, interface.
    static constexpr const char* kExtension =
        "io.github.wrenfield.Keyquill.Shell /io/github/wrenfield/Keyquill/Shell "
        "io.github.wrenfield.Keyquill.Shell1";

    std::filesystem::path m_dir;
    pid_t m_shell = 0;
    std::vector<pid_t> m_buses;
    std::vector<std::string> m_env;
    sd_bus* m_bus = nullptr;
    std::mutex m_keys;
    std::string m_session;
    std::thread m_user;
    std::atomic<bool> m_stopping{false};
};

} // namespace kq::e2e
