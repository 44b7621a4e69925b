// The real keyquill on a headless KWin (Plasma 5.27) with the desktop portal: hotkeys as portal
// shortcuts, lines typed through KWin's fake input in KWin's layout, and the clipboard for what
// the layout lacks. Keyquill's windows are on the private Xvfb, as in the sway tests.
#include "sway_session.h"
#include "wl_test.h"

#include <algorithm>
#include <fstream>
#include <sys/stat.h>

using namespace kq::e2e;

namespace {

const bool g_xvfb = RegisterSharedXvfb();
constexpr int kTab = 15, kF1 = 59;

// A private session bus, KWin on a virtual output, and the portal with its KDE backend, which the
// bus starts on first use. Quirk: the packaged kwin_wayland carries a file capability that cannot
// be granted in a container, so a copy runs (its name must still end in kwin_wayland).
class KwinSession {
public:
    bool start(std::string* error) {
        m_dir = RuntimeDir("kq-kwin");
        chmod(m_dir.c_str(), 0700);
        std::filesystem::copy_file("/usr/bin/kwin_wayland", m_dir / "kwin_wayland");
        int out = -1;
        m_bus = spawnPiped("dbus-daemon", {"--session", "--nofork", "--print-address=1"}, nullptr, &out);
        char buf[512] = {};
        const ssize_t n = m_bus ? read(out, buf, sizeof buf - 1) : 0;
        close(out);
        std::string address(buf, n > 0 ? size_t(n) : 0);
        while (!address.empty() && address.back() == '\n')
            address.pop_back();
        if (address.empty()) return *error = "no session bus", false;
        m_env = {"DBUS_SESSION_BUS_ADDRESS=" + address,
                 "XDG_RUNTIME_DIR=" + m_dir.string(),
                 "WAYLAND_DISPLAY=" + (m_dir / "wayland-kq").string(),
                 "XDG_CURRENT_DESKTOP=KDE",
                 "KWIN_WAYLAND_NO_PERMISSION_CHECKS=1",
                 "XDG_CONFIG_HOME=" + (m_dir / "config").string()};
        // What the bus hands to the portal it starts: KDE's backend is a Wayland client of KWin.
        runCapture("env " + joined() + " dbus-update-activation-environment XDG_CURRENT_DESKTOP=KDE " +
                   m_env[1] + " " + m_env[2] + " " + m_env[5] +
                   " QT_QPA_PLATFORM=wayland KWIN_WAYLAND_NO_PERMISSION_CHECKS=1");
        m_kwin = spawn("env", concat(m_env, {"sh", "-c",
                                             "exec " + (m_dir / "kwin_wayland").string() +
                                                 " --virtual --socket wayland-kq --no-lockscreen >" +
                                                 (m_dir / "log").string() + " 2>&1"}));
        for (int i = 0; i < 500 && !std::filesystem::exists(m_dir / "wayland-kq"); ++i)
            Desktop::settle(10);
        if (!std::filesystem::exists(m_dir / "wayland-kq"))
            return *error = "KWin did not start: " + readFile((m_dir / "log").string()), false;
        return true;
    }
    void stop() {
        terminate(m_kwin);
        terminate(m_bus); // the portal and its backend end with their bus
        m_kwin = m_bus = 0;
    }
    const std::vector<std::string>& env() const { return m_env; }
    // The user's layouts (as kxkbrc lists them) and the one in use, set as the keyboard settings
    // module does: the file, then KWin told to read it. True once KWin uses them.
    bool setLayouts(const std::string& list, int active) {
        std::filesystem::create_directories(m_dir / "config");
        std::ofstream(m_dir / "config" / "kxkbrc") << "[Layout]\nLayoutList=" << list << "\nUse=true\n";
        runCapture("env " + joined() +
                   " dbus-send --session --type=signal /Layouts org.kde.keyboard.reloadConfig");
        const bool several = list.find(',') != std::string::npos;
        for (int i = 0; i < 300; ++i, Desktop::settle(10)) {
            const std::string got = layoutCall("getLayoutsList");
            if (!several) {
                if (got.find("ServiceUnknown") != std::string::npos || got.find("not") != std::string::npos)
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
        return runCapture("env " + joined() + " busctl --user call org.kde.keyboard /Layouts " +
                          "org.kde.KeyboardLayouts " + methodAndArgs + " 2>&1");
    }
    std::string joined() const {
        std::string s;
        for (const auto& e : m_env)
            s += "'" + e + "' ";
        return s;
    }
    // Portal sessions open now (Keyquill's shortcut sessions).
    int sessions() const {
        const std::string tree =
            runCapture("env " + joined() + " busctl --user tree --list org.freedesktop.portal.Desktop");
        int n = 0;
        for (size_t at = tree.find("/keyquill\n"); at != std::string::npos;
             at = tree.find("/keyquill\n", at + 1))
            ++n;
        return n;
    }

private:
    std::filesystem::path m_dir;
    pid_t m_bus = 0, m_kwin = 0;
    std::vector<std::string> m_env;
};

KwinSession* g_kwin = nullptr;
UserKeyboard* g_user = nullptr;
std::string g_kwinError;

class KwinE2E : public WaylandE2E {
protected:
    static void SetUpTestSuite() {
        g_kwin = new KwinSession;
        g_user = new UserKeyboard;
        if (!g_kwin->start(&g_kwinError)) return;
        if (!g_user->start(KQ_WL_KEYS, g_kwin->env())) g_kwinError = "the test keyboard did not start";
    }
    static void TearDownTestSuite() {
        g_user->stop();
        g_kwin->stop();
        delete g_user;
        delete g_kwin;
    }
    void SetUp() override {
        ASSERT_TRUE(g_kwinError.empty()) << g_kwinError;
        ASSERT_NO_FATAL_FAILURE(KeyquillTest::SetUp());
        keyquill = spawn("env", concat(g_kwin->env(), {"QT_QPA_PLATFORM=xcb", KQ_KEYQUILL}));
        // The notice says once what this desktop does differently.
        mainWindow = MainWindowPastNotice(desk);
        ASSERT_NE(mainWindow, 0u) << "the main window and the notice";
    }
    void TearDown() override {
        if (layoutsChanged) {
            EXPECT_TRUE(g_kwin->setLayouts("us", 0));
        }
        WaylandE2E::TearDown();
        for (int i = 0; i < 200 && g_kwin->sessions() > 0; ++i)
            Desktop::settle(10);
    }
    // Waits until the portal has as many sessions open: the shortcuts are bound (or closed).
    bool waitForSessions(int n) {
        for (int i = 0; i < 300 && g_kwin->sessions() != n; ++i)
            Desktop::settle(10);
        return g_kwin->sessions() == n;
    }
    std::vector<std::string> sessionEnv(bool) const override { return g_kwin->env(); }
    bool layoutsChanged = false;
};

// KWin consumes a bound key, press and release; with "Enabled" off the session is closed and
// both reach the application.
TEST_F(KwinE2E, TheBoundKeyIsSwallowedOnlyWhileEnabled) {
    openTarget(Client::Recorder);
    const std::string before = text();
    ASSERT_TRUE(g_user->tap(kTab));
    waitForText(before + "P Tab \\t\nR Tab\n");
    ASSERT_EQ(text(), before + "P Tab \\t\nR Tab\n") << "nothing is bound before a list is enabled";
    loadAndEnable(writeList({"x"}));
    untickAutoBackspace();
    ASSERT_TRUE(waitForSessions(1));
    openTarget(Client::Recorder);
    const std::string focused = text();
    ASSERT_TRUE(g_user->tap(kTab));
    ASSERT_TRUE(waitForText(focused + "P x x\nR x\n")) << text();
    clickEnabled();
    ASSERT_TRUE(waitForSessions(0));
    ASSERT_TRUE(g_user->tap(kTab));
    EXPECT_TRUE(waitForText(focused + "P x x\nR x\nP Tab \\t\nR Tab\n")) << text();
}

// KWin repeats Activated while a key is held: one press, one line.
TEST_F(KwinE2E, AHeldKeyTypesOneLine) {
    loadAndEnable(writeList({"one", "two"}));
    untickAutoBackspace();
    ASSERT_TRUE(waitForSessions(1));
    openTarget(Client::Qt);
    ASSERT_TRUE(g_user->command("down " + std::to_string(kTab)));
    Desktop::settle(1000);
    ASSERT_TRUE(g_user->command("up " + std::to_string(kTab)));
    EXPECT_TRUE(waitForText("one")) << "got: " << text();
}

TEST_F(KwinE2E, FunctionKeysTypeTheirRowsInMultiSlotMode) {
    const Window multi = openMultiSlot();
    ASSERT_NE(multi, 0u);
    ASSERT_TRUE(fillRow(multi, 0, "echo F1, (two)"));
    ASSERT_TRUE(fillRow(multi, 11, "twelfth", true));
    ASSERT_TRUE(waitForSessions(1));
    openTarget(Client::Qt);
    for (int f = 0; f < 12; ++f) // empty and disabled rows too: no function key reaches the client
        ASSERT_TRUE(g_user->tap(f < 10 ? kF1 + f : 87 + (f - 10)));
    EXPECT_TRUE(waitForText("echo F1, (two)twelfth\n")) << "got: " << text();
}

// What the layout has is typed key by key, modifiers included; what it lacks is pasted, in its
// place in the line, and the clipboard the user had is back afterwards.
TEST_F(KwinE2E, LinesAreExactWithTheClipboardForWhatTheLayoutLacks) {
    const std::string ascii =
        " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";
    const std::string mixed = "caf\xc3\xa9 \xe2\x86\x92 \xe6\x97\xa5\xe6\x9c\xac 😀 end";
    {
        std::ofstream f(writeList({ascii, mixed}), std::ios::app);
        f << "one two+{LEFT}+{LEFT}+{LEFT}Z\n";
    }
    loadAndEnable(path("list.txt"));
    untickAutoBackspace();
    ASSERT_TRUE(waitForSessions(1));
    runCapture("env " + g_kwin->joined() + " wl-copy 'what the user copied'");
    openTarget(Client::Qt);
    std::string expected;
    for (const std::string& line : {ascii, mixed, std::string("one Z")}) {
        ASSERT_TRUE(g_user->tap(kTab));
        expected += line;
        ASSERT_TRUE(waitForText(expected)) << "got: " << text();
    }
    EXPECT_EQ(runCapture("env " + g_kwin->joined() + " timeout 5 wl-paste --no-newline"),
              "what the user copied");
}

// The user's layouts us+ru with ru in use, then us+de with de in use: lines of Latin, Cyrillic and
// German characters arrive exactly (each typed in a layout that has it, or pasted), and the
// layout the user had is in use again afterwards.
TEST_F(KwinE2E, LinesAreExactWithSeveralLayouts) {
    const std::vector<std::string> lines{"Hello, world! (x) [y] {z} @#$%^&*", "Привет, мир! Ёж",
                                         "mixed: abc жэ xyz ЖЭ 42", "äöü ÄÖÜ ß € @ µ ~|"};
    loadAndEnable(writeList(lines));
    untickAutoBackspace();
    ASSERT_TRUE(waitForSessions(1));
    layoutsChanged = true;
    for (const char* list : {"us,ru", "us,de"}) {
        SCOPED_TRACE(list);
        ASSERT_TRUE(g_kwin->setLayouts(list, 1)) << g_kwin->layoutCall("getLayoutsList");
        openTarget(Client::Qt);
        std::string expected;
        for (const std::string& line : lines) {
            ASSERT_TRUE(g_user->tap(kTab));
            expected += line;
            ASSERT_TRUE(waitForText(expected, 30000)) << "got: " << text();
        }
        EXPECT_EQ(g_kwin->layoutCall("getLayout"), "u 1\n") << "the user's layout is in use again";
    }
}

} // namespace
