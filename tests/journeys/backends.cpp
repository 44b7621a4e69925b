#include "backend.h"
#include "gnome_session.h"
#include "kwin_session.h"
#include "labwc_session.h"
#include "sway_session.h"

#include <X11/extensions/XTest.h>

#include <memory>
#include <sstream>

namespace kq::e2e {

namespace {

// Every desktop a test started is stopped once, when the program's tests are done.
std::vector<Backend*> g_started;
class StopDesktops : public ::testing::Environment {
public:
    void TearDown() override {
        for (Backend* b : g_started)
            b->stop();
    }
};
// After the shared Xvfb, so that they stop before it: keyquill's windows are on it.
const bool g_stopAtEnd = (RegisterSharedXvfb(), ::testing::AddGlobalTestEnvironment(new StopDesktops), true);

} // namespace

bool Backend::ensureStarted(std::string* error) {
    if (!std::exchange(m_tried, true)) {
        g_started.push_back(this);
        if (!start(&m_error) && m_error.empty()) m_error = "did not start";
    }
    *error = m_error;
    return m_error.empty();
}

namespace {

// "tap 15" -> {"tap", 15}.
std::pair<std::string, int> parse(const std::string& command) {
    std::istringstream in(command);
    std::pair<std::string, int> out{"", -1};
    in >> out.first >> out.second;
    return out;
}

// An X server (the shared Xvfb): Keyquill grabs its keys there; the user's keys are XTest events
// on a connection of the test's own.
class X11Backend : public Backend {
public:
    const char* name() const override { return "X11"; }
    bool isX11() const override { return true; }
    bool releaseMayPass() const override { return true; }
    bool start(std::string* error) override {
        m_dpy = XOpenDisplay(XvfbDisplay().c_str());
        return m_dpy || (*error = "no Xvfb", false);
    }
    void stop() override {
        if (m_dpy) XCloseDisplay(m_dpy);
        m_dpy = nullptr;
    }
    std::vector<std::string> env(bool) const override {
        return {"DISPLAY=" + XvfbDisplay(), "WAYLAND_DISPLAY=", "SWAYSOCK="};
    }
    bool user(const std::string& command) override {
        const auto [verb, key] = parse(command);
        if (verb == "layout")
            return system(("setxkbmap -display " + XvfbDisplay() + " " + command.substr(7)).c_str()) == 0;
        const auto code = static_cast<unsigned>(key + 8); // X keycodes are evdev codes + 8
        if (verb == "down" || verb == "tap") XTestFakeKeyEvent(m_dpy, code, True, CurrentTime);
        if (verb == "up" || verb == "tap") XTestFakeKeyEvent(m_dpy, code, False, CurrentTime);
        XSync(m_dpy, False);
        return true;
    }
    // Keyquill's own windows go without an input method (one is set up for the clients where the
    // user writes Chinese): the tests type into them faster than a person, and an input method can
    // hand such keys on out of order.
    Window launch(Desktop& desk, pid_t* keyquill) override {
        user("layout us");
        *keyquill = spawnWith(env(true), {"QT_IM_MODULE=", KQ_KEYQUILL});
        return desk.findWindow("Keyquill");
    }

private:
    Display* m_dpy = nullptr;
};

// A desktop where the user writes Chinese, with an input method of the test's own on a bus of
// its own: programs started there reach both, and both end with the desktop.
template <class Base> class WithInputMethod : public Base {
public:
    using Base::Base;
    void stop() override {
        terminate(m_daemon);
        terminate(m_bus);
        Base::stop();
    }
    std::vector<std::string> env(bool x11Client) const override {
        return concat(Base::env(x11Client), m_env);
    }

protected:
    pid_t m_bus = 0, m_daemon = 0;
    std::vector<std::string> m_env;
};

// X11 with IBus and its Pinyin engine, to which GTK and Qt windows hand every key before they
// take it.
class X11IBusBackend : public WithInputMethod<X11Backend> {
public:
    const char* name() const override { return "X11_IBus"; }
    bool available() const override {
        return std::filesystem::exists("/usr/share/ibus/component/libpinyin.xml");
    }
    bool start(std::string* error) override {
        if (!X11Backend::start(error)) return false;
        const std::string folder = RuntimeDir(name()).string();
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + StartPrivateBus(&m_bus), "XDG_CONFIG_HOME=" + folder,
                 "GTK_IM_MODULE=ibus", "QT_IM_MODULE=ibus", "XMODIFIERS=@im=ibus"};
        // IBus writes its address in the configuration folder, a file for each display name.
        m_daemon = spawnWith(env(true), {"GSETTINGS_BACKEND=memory", "ibus-daemon", "--panel=disable"});
        std::string address;
        WaitUntil([&] {
            address = runCapture("sed -n 's/^IBUS_ADDRESS=//p' " + folder + "/ibus/bus/* 2>/dev/null");
            return !address.empty();
        });
        m_env.push_back("IBUS_ADDRESS=" + address.substr(0, address.find('\n')));
        return !address.empty() || (*error = "IBus did not start", false);
    }
    // The engine is switched on for the focused window as a user does. Quirk: `ibus engine NAME`
    // reports a failure even when it switched: the state says.
    bool engineOn(bool switchOn) override {
        if (switchOn) runCaptureWith(env(true), "ibus engine libpinyin 2>/dev/null");
        return runCaptureWith(env(true), "ibus engine 2>/dev/null") == "libpinyin\n";
    }
};

// Fcitx5 with its Pinyin engine on, set up in `folder`, a client of the desktop and bus `env`
// name; ready once it answers. Without its IBus front end, which would take over another test's
// IBus.
pid_t StartFcitx5(const std::string& folder, const std::vector<std::string>& env,
                  const std::string& disable) {
    std::filesystem::create_directories(folder + "/fcitx5");
    std::ofstream(folder + "/fcitx5/profile")
        << "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n"
           "[Groups/0/Items/0]\nName=keyboard-us\n[Groups/0/Items/1]\nName=pinyin\n"
           "[GroupOrder]\n0=Default\n";
    const pid_t fcitx = spawnWith(env, {"fcitx5", "--disable=ibusfrontend" + disable});
    return WaitUntil([&] { return !runCaptureWith(env, "fcitx5-remote 2>/dev/null").empty(); })
               ? fcitx
               : (terminate(fcitx), 0);
}
// Whether Fcitx5 converts in the focused window, switched on first when asked, as a user does.
bool Fcitx5On(const std::vector<std::string>& env, bool switchOn) {
    if (switchOn) runCaptureWith(env, "fcitx5-remote -o 2>/dev/null");
    return runCaptureWith(env, "fcitx5-remote 2>/dev/null") == "2\n";
}
bool Fcitx5Installed() {
    return std::filesystem::exists("/usr/share/fcitx5/addon/pinyin.conf");
}

// The same with Fcitx5, which answers on the session bus.
class X11FcitxBackend : public X11IBusBackend {
public:
    const char* name() const override { return "X11_Fcitx5"; }
    bool available() const override { return Fcitx5Installed(); }
    bool start(std::string* error) override {
        if (!X11Backend::start(error)) return false;
        const std::string folder = RuntimeDir(name()).string();
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + StartPrivateBus(&m_bus), "XDG_CONFIG_HOME=" + folder,
                 "GTK_IM_MODULE=fcitx", "QT_IM_MODULE=fcitx", "XMODIFIERS=@im=fcitx"};
        return (m_daemon = StartFcitx5(folder, env(true), ",wayland")) ||
               (*error = "Fcitx5 did not start", false);
    }
    bool engineOn(bool switchOn) override { return Fcitx5On(env(true), switchOn); }
};

// A compositor whose user keyboard is a virtual keyboard of the tests' own.
template <class Session> class VirtualKeyboardBackend : public Backend {
public:
    template <class... Args>
    explicit VirtualKeyboardBackend(Args&&... args) : session(std::forward<Args>(args)...) {}
    void stop() override {
        keys.stop();
        session.stop();
    }
    std::vector<std::string> env(bool x11Client) const override { return session.env(x11Client); }
    bool user(const std::string& command) override { return keys.command(command); }

    Session session;
    UserKeyboard keys;

protected:
    bool startKeys(std::string* error) {
        return keys.start(KQ_WL_KEYS, session.env(false)) ||
               (*error = "the test keyboard did not start", false);
    }
};

// A headless sway: its bindings bring the hotkeys, a virtual keyboard types.
class SwayBackend : public VirtualKeyboardBackend<SwaySession> {
public:
    explicit SwayBackend(std::string folder = "sway") : VirtualKeyboardBackend(std::move(folder)) {}
    const char* name() const override { return "sway"; }
    bool start(std::string* error) override { return session.start(error) && startKeys(error); }
    Window launch(Desktop& desk, pid_t* keyquill) override {
        if (!keys.command("layout us")) return 0;
        session.msg("input type:keyboard xkb_layout us");
        *keyquill = spawnWith(env(false), {"QT_QPA_PLATFORM=xcb", KQ_KEYQUILL});
        return desk.findWindow("Keyquill");
    }
};

// sway where the user writes Chinese: Fcitx5 as the compositor's input method, which gets the
// keys of every window that takes text, virtual keyboards' too, before the window does.
class SwayFcitxBackend : public WithInputMethod<SwayBackend> {
public:
    SwayFcitxBackend() : WithInputMethod("sway-fcitx") {}
    const char* name() const override { return "sway_Fcitx5"; }
    bool available() const override { return Fcitx5Installed(); }
    bool start(std::string* error) override {
        if (!SwayBackend::start(error)) return false;
        const std::string folder = RuntimeDir(name()).string();
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + StartPrivateBus(&m_bus), "XDG_CONFIG_HOME=" + folder};
        return (m_daemon = StartFcitx5(folder, env(false), "")) || (*error = "Fcitx5 did not start", false);
    }
    bool engineOn(bool switchOn) override { return Fcitx5On(env(false), switchOn); }
};

// Any wlroots compositor without an IPC or portal of its own (labwc, wayfire, river...): its key
// bindings run `keyquill --press KEY` / `--release KEY`; a virtual keyboard types. Played by a
// second headless sway whose IPC Keyquill is not told about. A watcher stands in for the
// compositor's own running of the command: it sees the binding fire and runs it, as root like
// the Keyquill it reaches.
class TriggerBackend : public SwayBackend {
public:
    TriggerBackend() : SwayBackend("wlroots") {}
    const char* name() const override { return "wlroots"; }
    bool start(std::string* error) override {
        if (!SwayBackend::start(error)) return false;
        runtime = session.env(false)[0].substr(std::string("WAYLAND_DISPLAY=").size());
        runtime = runtime.substr(0, runtime.rfind('/')) + "/keyquill-run";
        std::filesystem::create_directories(runtime);
        // By key code, as the README advises: a binding by key symbol would also take the key
        // Keyquill types itself when it lets the user's press pass.
        std::string bindings;
        for (int f = 0; f <= 12; ++f) {
            const int code = f == 0 ? 23 : f <= 10 ? 66 + f : 84 + f; // XKB codes of Tab, F1..F12
            const std::string id = f == 0 ? "tab" : "f" + std::to_string(f);
            bindings += "bindcode --no-repeat " + std::to_string(code) + " nop kqtrigger press " + id +
                        "; bindcode --release " + std::to_string(code) + " nop kqtrigger release " + id +
                        "; ";
        }
        session.msg("'" + bindings + "'");
        watcher =
            spawnWith(session.env(false), {"XDG_RUNTIME_DIR=" + runtime, "sh", "-c",
                                           "stdbuf -oL swaymsg -m -r -t subscribe '[\"binding\"]' | "
                                           "while IFS= read -r e; do set -- $(printf %s \"$e\" | sed -n "
                                           "'s/.*nop kqtrigger \\([a-z]*\\) \\([a-z0-9]*\\).*/\\1 \\2/p'); "
                                           "[ $# = 2 ] && " KQ_KEYQUILL " --$1 $2; done"});
        return true;
    }
    void stop() override {
        terminate(watcher);
        SwayBackend::stop();
    }
    Window launch(Desktop& desk, pid_t* keyquill) override {
        if (!keys.command("layout us")) return 0;
        *keyquill = spawnWith(env(false), {"SWAYSOCK=", "DBUS_SESSION_BUS_ADDRESS=unix:path=/nonexistent",
                                           "XDG_RUNTIME_DIR=" + runtime, "QT_QPA_PLATFORM=xcb", KQ_KEYQUILL});
        return MainWindowPastNotice(desk); // the notice names the bindings to add
    }

    std::string runtime;
    pid_t watcher = 0;
};

// A headless KWin with the desktop portal: portal shortcuts bring the hotkeys, fake input types.
class KwinBackend : public VirtualKeyboardBackend<KwinSession> {
public:
    const char* name() const override { return "KWin"; }
    bool start(std::string* error) override { return session.start(error) && startKeys(error); }
    // The notice shown at start says once what this desktop does differently.
    Window launch(Desktop& desk, pid_t* keyquill) override {
        *keyquill = spawnWith(env(false), {"QT_QPA_PLATFORM=xcb", KQ_KEYQUILL});
        return MainWindowPastNotice(desk);
    }
    // The portal answers a request once the desktop has bound the keys.
    bool waitBound(bool bound) override {
        return WaitPortal([&] { return session.portal(); }, bound);
    }
};

// A headless GNOME Shell with Keyquill's extension: the shell grabs the keys and types.
class GnomeBackend : public Backend {
public:
    const char* name() const override { return "GNOME"; }
    bool releaseMayPass() const override { return true; } // GNOME before 48 reports no release
    bool start(std::string* error) override { return session.start(KQ_GNOME_EXTENSION, error); }
    void stop() override { session.stop(); }
    std::vector<std::string> env(bool x11Client) const override { return session.env(x11Client); }
    bool user(const std::string& command) override {
        const auto [verb, key] = parse(command);
        if (verb == "layout") return command == "layout us";
        return (verb == "up" || session.key(key, true)) && (verb == "down" || session.key(key, false));
    }
    Window launch(Desktop& desk, pid_t* keyquill) override {
        *keyquill = spawn(
            "env", concat(env(false), {"DISPLAY=" + XvfbDisplay(), "QT_QPA_PLATFORM=xcb", KQ_KEYQUILL}));
        return desk.findWindow("Keyquill");
    }
    // Caps Lock is held whatever the hotkeys.
    bool waitBound(bool bound) override {
        return WaitUntil([&] { return (session.bound().find_first_of("TF") != std::string::npos) == bound; });
    }

    GnomeSession session;
};

// GNOME 48 and later without Keyquill's extension: portal shortcuts bring the hotkeys, the
// RemoteDesktop portal types; its user allows what GNOME asks, as a person would.
class GnomePortalBackend : public GnomeBackend {
public:
    const char* name() const override { return "GNOME_portal"; }
    bool releaseMayPass() const override { return false; }
    bool available() const override { return GnomeSession::version() >= 48; }
    bool start(std::string* error) override {
        if (!session.start("", error)) return false;
        session.allowKeyquill(KQ_KEYQUILL);
        return true;
    }
    Window launch(Desktop& desk, pid_t* keyquill) override {
        GnomeBackend::launch(desk, keyquill);
        return MainWindowPastNotice(desk); // the notice says what GNOME will ask
    }
    bool waitBound(bool bound) override {
        return WaitPortal([&] { return session.portal(); }, bound);
    }
};

// GNOME with Keyquill's extension, where the user writes Chinese: IBus's Pinyin engine gets the
// keys of every window that takes text before the window does.
class GnomePinyinBackend : public GnomeBackend {
public:
    const char* name() const override { return "GNOME_Pinyin"; }
    bool available() const override {
        return std::filesystem::exists("/usr/share/ibus/component/libpinyin.xml");
    }
    bool start(std::string* error) override { return session.start(KQ_GNOME_EXTENSION, error, true); }
    // What the shell does when the engine registers or updates its properties: it announces its
    // input source again, and its input method takes the source back.
    void engineRestless(bool on) override {
        session.eval(on ? "const GLib = imports.gi.GLib, m = imports.ui.main.inputMethod._inputSourceManager;"
                          "globalThis.kqRestless = GLib.timeout_add(GLib.PRIORITY_DEFAULT, 1, () =>"
                          " (m.emit(\"current-source-changed\", null), GLib.SOURCE_CONTINUE));"
                        : "imports.gi.GLib.source_remove(globalThis.kqRestless);");
    }
};

// A headless labwc: its own bindings run the command-line trigger.
class LabwcBackend : public VirtualKeyboardBackend<LabwcSession> {
public:
    const char* name() const override { return "labwc"; }
    bool available() const override { return LabwcSession::installed(); }
    // Quirk: labwc binds by key symbol, so the key Keyquill types back is taken by the binding too.
    bool passedKeyReachesClients() const override { return false; }
    bool start(std::string* error) override { return session.start(KQ_KEYQUILL, error) && startKeys(error); }
    Window launch(Desktop& desk, pid_t* keyquill) override {
        if (!keys.command("layout us")) return 0;
        *keyquill = spawnWith(env(false), {"QT_QPA_PLATFORM=xcb", KQ_KEYQUILL});
        return MainWindowPastNotice(desk); // the notice names the bindings to add
    }
};

} // namespace

Backend& TheDesktop(Desk which) {
    static X11Backend x11;
    static SwayBackend sway;
    static KwinBackend kwin;
    static TriggerBackend trigger;
    static GnomeBackend gnome;
    static LabwcBackend labwc;
    static GnomePortalBackend gnomePortal;
    static GnomePinyinBackend gnomePinyin;
    static X11IBusBackend x11IBus;
    static X11FcitxBackend x11Fcitx;
    static SwayFcitxBackend swayFcitx;
    Backend* const all[] = {&x11,         &sway,        &kwin,    &trigger,  &gnome,    &labwc,
                            &gnomePortal, &gnomePinyin, &x11IBus, &x11Fcitx, &swayFcitx};
    return *all[static_cast<int>(which)];
}
SwaySession& TheSwaySession() {
    return static_cast<SwayBackend&>(TheDesktop(Desk::Sway)).session;
}
GnomeSession& TheGnomeSession(Desk which) {
    return static_cast<GnomeBackend&>(TheDesktop(which)).session;
}
KwinSession& TheKwinSession() {
    return static_cast<KwinBackend&>(TheDesktop(Desk::Kwin)).session;
}

void BackendE2E::openTarget(Client kind) {
    terminate(target);
    std::filesystem::remove(path("text"));
    const std::string events = path("events");
    std::filesystem::remove(events);
    const bool x11 = backend().isX11();
    if (kind == Client::Recorder && !x11) { // its log is the text; it says when it has the focus
        target = spawnWith(
            backend().env(false),
            {"sh", "-c", std::string("exec ") + KQ_WL_RECORDER + " " + recorderArgs + " > " + path("text")});
        ASSERT_TRUE(WaitUntil([&] { return text().find("F in") != std::string::npos; }))
            << "the recorder did not get the focus";
        return;
    }
    if (kind == Client::Recorder) {
        target = spawnWith(backend().env(true), {KQ_E2E_TARGET, path("text"), events, "kq-target"});
    } else if (kind == Client::XTerm) {
        target = spawnWith(backend().env(true),
                           {"LC_ALL=C.UTF-8", "xterm", "-xrm", "XTerm*utf8: 1", "-e", "sh", "-c",
                            "stty raw -echo; printf '\\033[?1004h'; echo MAPPED > " + events +
                                "; exec cat > " + path("text")});
    } else if (kind == Client::Qt) {
        target = spawnWith(backend().env(x11), {std::string("QT_QPA_PLATFORM=") + (x11 ? "xcb" : "wayland"),
                                                KQ_E2E_QT_TARGET, path("text"), events, "kq-target"});
    } else {
        target = spawnWith(backend().env(x11), {std::string("GDK_BACKEND=") + (x11 ? "x11" : "wayland"),
                                                kind == Client::Gtk4 ? "KQ_GTK=4" : "KQ_GTK=3",
                                                KQ_E2E_GTK_TARGET, path("text"), events, "kq-target"});
    }
    const auto said = [&](const char* what) { return readFile(events).find(what) != std::string::npos; };
    ASSERT_TRUE(WaitUntil([&] { return said("MAPPED"); })) << "the target did not start";
    if (x11) { // no window manager gives it the focus
        const Window w = desk.findWindow("kq-target");
        ASSERT_NE(w, 0u);
        desk.focus(w);
    }
    // An xterm reports the focus it gets once it has been asked to (DECSET 1004), which can be
    // after a quick compositor (sway) gave it: then the focus came first. A busy compositor can
    // take over a second to give it.
    if (kind == Client::XTerm) {
        WaitUntil([&] { return readFile(path("text")).find("\x1b[I") != std::string::npos; }, 3000);
        return;
    }
    if (kind == Client::Gtk || kind == Client::Gtk4) { // it says when it has the focus
        ASSERT_TRUE(WaitUntil([&] { return said("FOCUSED"); })) << "the GTK client never got the focus";
        return;
    }
    Desktop::settle(500); // mapped is not yet focused
}

std::string BackendE2E::keyLog() const {
    std::istringstream in(readFile(path(backend().isX11() ? "events" : "text")));
    std::string out, line;
    while (std::getline(in, line)) {
        if (line.size() < 3 || (line[0] != 'P' && line[0] != 'R') || line[1] != ' ') continue;
        out += line.substr(0, line.find(' ', 2)) + "\n";
    }
    return out;
}

} // namespace kq::e2e
