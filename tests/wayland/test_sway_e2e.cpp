// The real keyquill on a headless sway: hotkeys through sway's bindings, lines through a virtual
// keyboard, into native Wayland clients (Qt, GTK) and an X11 one through XWayland. Keyquill's own
// windows are on a private Xvfb, where the tests drive them as on X11; the session it serves is
// sway's, because that is where WAYLAND_DISPLAY and SWAYSOCK point.
#include "backend.h"
#include "desktop.h"
#include "sway_session.h"

#include <algorithm>
#include <csignal>
#include <fstream>
#include <functional>
#include <sys/wait.h>

using namespace kq::e2e;

namespace {

// evdev key codes, as the user's keyboard sends them.
constexpr int kTab = 15, kCapsLock = 58, kLeftShift = 42, kKeyA = 30, kKeyY = 21;

class SwayE2E : public BackendE2E {
protected:
    Backend& backend() const override { return TheDesktop(Desk::Sway); }
    SwaySession& sway() const { return TheSwaySession(); }

    // A reload drops the bindings Keyquill made; it makes them again when sway reports the reload.
    // They are back once a press of Caps Lock (bound with the hotkeys, in the same command) comes
    // back as a binding event. Sway toggles the lock either way, so the presses come in pairs.
    void waitUntilRebound() {
        const std::string log = path("bindings");
        const pid_t watcher = spawnWith(sway().env(false), {"sh", "-c",
                                                            "exec stdbuf -oL swaymsg -m -t subscribe "
                                                            "'[\"binding\"]' > " +
                                                                log});
        WaitUntil([&] { return readFile(log).find("success") != std::string::npos; }, 5000);
        bool bound = false;
        for (int pair = 0; pair < 20 && !bound; ++pair) {
            for (int t = 0; t < 2; ++t) {
                ASSERT_TRUE(tap(kCapsLock));
                for (int i = 0; i < 100 && !bound; ++i, Desktop::settle(10))
                    bound = readFile(log).find("keyquill press") != std::string::npos;
            }
        }
        terminate(watcher);
        ASSERT_TRUE(bound) << "Keyquill did not bind its keys again after the reload";
    }
};

std::string longLine() {
    std::string line;
    const char* pieces[] = {"Lorem ipsum ", "é ü ß € ", "→ 日本語 ", "😀 ", "(x) {y} ", "ЖЖЖ "};
    for (int i = 0; line.size() < 2600; ++i)
        line += pieces[i % 6];
    return line;
}

// The compositor disconnects a client whose queue of events overflows; a long line is paced so
// that a client busy for half a second still gets all of it. Each key event has a later time
// than the one before: a browser (Firefox) takes two with the same time for one and drops keys.
TEST_F(SwayE2E, AClientThatStopsReadingForAMomentGetsAllOfALongLine) {
    std::string line;
    for (int i = 0; line.size() < 6000; ++i)
        line += "abcdefghij"[i % 10];
    loadList({line});
    recorderArgs = "--times";
    openTarget(Client::Recorder);
    kill(target, SIGSTOP);
    ASSERT_TRUE(tap(kTab));
    Desktop::settle(500);
    kill(target, SIGCONT);
    std::vector<long> times; // of the presses
    for (int i = 0; i < 500 && times.size() < line.size(); ++i, Desktop::settle(10)) {
        const std::string log = text();
        times.clear();
        for (size_t at = log.find("\nP@"); at != std::string::npos; at = log.find("\nP@", at + 1))
            times.push_back(std::atol(log.c_str() + at + 3));
    }
    EXPECT_EQ(times.size(), line.size());
    EXPECT_TRUE(std::adjacent_find(times.begin(), times.end(), std::greater_equal<long>()) == times.end())
        << "two presses with the same time";
    EXPECT_EQ(waitpid(target, nullptr, WNOHANG), 0) << "the client was disconnected";
}

// The hotkey's release reaches sway from the user's keyboard while the line is typed: sway then
// hands that keyboard's keymap to the clients, ours again at our next key. XWayland clients read
// a keymap late, so they are where a line would come out wrong.
TEST_F(SwayE2E, AHotkeyReleasedMidLineLeavesTheLineExactInXWayland) {
    const std::string line = longLine();
    loadList({line});
    openTarget(Client::XTerm);
    ASSERT_TRUE(user("down " + std::to_string(kTab)));
    for (int i = 0; i < 500 && text().size() < 40; ++i)
        Desktop::settle(2);
    ASSERT_TRUE(user("up " + std::to_string(kTab)));
    EXPECT_TRUE(waitForText(line)) << "got: " << text();
}

TEST_F(SwayE2E, ASlowXWaylandClientGetsTheLineExact) {
    const std::string line = "abc é ß → 😀 xyz";
    loadList({line});
    openTarget(Client::XTerm);
    kill(target, SIGSTOP); // the xterm
    ASSERT_TRUE(tap(kTab));
    Desktop::settle(300);
    ASSERT_TRUE(tap(kTab));
    Desktop::settle(300);
    kill(target, SIGCONT);
    EXPECT_TRUE(waitForText(line + line)) << "got: " << text();
}

// Our keyboard's modifiers are ours alone: the user's Caps Lock and a held Shift do not reach the
// line. Quirk: sway updates a keyboard's lock before it looks at its bindings, so a bound Caps
// Lock still toggles the user's lock (the application does not see the key).
TEST_F(SwayE2E, TheUsersCapsLockAndShiftDoNotReachTheLine) {
    loadList({"abc"});
    openTarget(Client::Qt);
    ASSERT_TRUE(tap(kCapsLock));
    ASSERT_TRUE(tap(kTab));
    ASSERT_TRUE(waitForText("abc")) << "got: " << text();
    ASSERT_TRUE(user("down " + std::to_string(kLeftShift)));
    ASSERT_TRUE(tap(kTab));
    ASSERT_TRUE(user("up " + std::to_string(kLeftShift)));
    ASSERT_TRUE(waitForText("abcabc")) << "got: " << text();
    ASSERT_TRUE(tap(kKeyA));
    ASSERT_TRUE(tap(kCapsLock));
    ASSERT_TRUE(tap(kKeyA));
    EXPECT_TRUE(waitForText("abcabcAa")) << "got: " << text();
}

// Sway applies its input configuration to every keyboard, Keyquill's virtual one included, when
// it reloads its configuration and when an input command runs.
// Each line exact in native (Qt, GTK) and XWayland clients, at first and after each change of the
// keymaps (sway: a reload, which drops Keyquill's bindings too; both: the user's layout switched to
// German): no key a line lacks is typed (xterm shows every key), and afterwards the keys the user
// types are still the user's (German) ones. On labwc the compositor's own bindings run the trigger.
class KeymapE2E : public SwayE2E, public testing::WithParamInterface<bool> {
protected:
    Backend& backend() const override { return TheDesktop(GetParam() ? Desk::Labwc : Desk::Sway); }
};

TEST_P(KeymapE2E, LinesStayExactWhenTheKeymapsChange) {
    const bool labwc = GetParam();
    const std::vector<std::string> lines{"Hello, [world] (x) {y} 1+2=3 ~/a_b@c#d$e%f^g&h*i|j",
                                         "é ü ß € ñ ç å ø", "→ ✓ Ω 日本語 😀", "yz"};
    loadList(lines);
    for (int round = 0; round < 3; ++round) {
        if (round == 1) {
            if (labwc) continue;
            sway().msg("reload");
            ASSERT_NO_FATAL_FAILURE(waitUntilRebound());
        } else if (round == 2) {
            if (!labwc) sway().msg("input type:keyboard xkb_layout de");
            ASSERT_TRUE(user("layout de"));
        }
        for (Client c : {Client::Qt, Client::Gtk, Client::XTerm}) {
            SCOPED_TRACE(std::to_string(int(c)) + " (Qt, GTK, xterm), round " + std::to_string(round));
            openTarget(c);
            std::string expected;
            for (const auto& line : lines) {
                ASSERT_TRUE(tap(kTab));
                expected += line;
                ASSERT_TRUE(waitForText(expected)) << "got: " << text();
            }
            ASSERT_TRUE(tap(kKeyY));
            EXPECT_TRUE(waitForText(expected + (round == 2 ? "z" : "y"))) << "got: " << text();
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Compositors, KeymapE2E, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "labwc" : "sway";
                         });

// Translucency on sway comes from sway's `opacity` command: Keyquill's windows run natively on
// Wayland here, a portable copy with its settings beside it (translucent, level 128, background
// 0xC87800, that is red 0, green 120, blue 200). The screen shows the main window's background
// blended half and half with the desktop's, and nowhere unblended.
TEST_F(SwayE2E, SavedTranslucencyReachesTheWindowThroughTheCompositor) {
    terminate(keyquill); // one copy at a time, or the second asks first
    keyquill = 0;
    const std::string copy = path("keyquill");
    std::filesystem::copy_file(KQ_KEYQUILL, copy);
    { std::ofstream(path("config.ini"), std::ios::binary) << "13137920 16777215 1 128\r\n"; }
    const pid_t native = spawnWith(sway().env(false), {"QT_QPA_PLATFORM=wayland", copy});
    const std::string pidField = "\"pid\": " + std::to_string(native);
    WaitUntil([&] { return sway().msg("-t get_tree").find(pidField) != std::string::npos; }, 6000);
    Desktop::settle(1000); // mapped, then given its opacity
    runCapture("env " + sway().env(false)[0] + " grim -t ppm " + path("screen.ppm"));
    terminate(native);
    const std::string ppm = readFile(path("screen.ppm"));
    ASSERT_GT(ppm.size(), 1000u) << "no screenshot";
    size_t opaque = 0, blended = 0;
    const size_t pixels = ppm.find("255\n") + 4; // after the P6 header's maximum value
    const int desktop = uint8_t(ppm[pixels]);    // a corner: grey
    const auto near = [](int value, int expected) { return value >= expected - 3 && value <= expected + 3; };
    for (size_t i = pixels; i + 2 < ppm.size(); i += 3) {
        const auto r = uint8_t(ppm[i]), g = uint8_t(ppm[i + 1]), b = uint8_t(ppm[i + 2]);
        opaque += r == 0 && g == 120 && b == 200;
        blended += near(r, desktop / 2) && near(g, (desktop + 120) / 2) && near(b, (desktop + 200) / 2);
    }
    EXPECT_EQ(opaque, 0u);
    EXPECT_GT(blended, 5000u);
}

TEST_F(SwayE2E, AKilledKeyquillLeavesNoBindingBehind) {
    loadList({"one"});
    openTarget(Client::Qt);
    ASSERT_TRUE(tap(kTab));
    ASSERT_TRUE(waitForText("one")) << text();
    kill(keyquill, SIGKILL);
    ASSERT_TRUE(exited(5000));
    Desktop::settle(300); // the watchdog's unbinding
    ASSERT_TRUE(tap(kTab));
    EXPECT_TRUE(waitForText("one\t")) << "TAB must reach the application again; got: " << text();
}

// A Wayland session with no sway (GNOME, KDE...): the X11 backend through XWayland, and the user
// is told once at start that the hotkeys reach X11 applications only.
TEST_F(KeyquillTest, OtherWaylandSessionsSayOnceThatHotkeysWorkInX11ApplicationsOnly) {
    helpers.push_back(spawn(KQ_E2E_TARGET, {path("text"), path("events"), "kq-target"}));
    const Window targetWindow = desk.findWindow("kq-target");
    ASSERT_NE(targetWindow, 0u);
    keyquill =
        spawn("env", {"WAYLAND_DISPLAY=wayland-elsewhere", "SWAYSOCK=", "QT_QPA_PLATFORM=xcb", KQ_KEYQUILL});
    mainWindow = MainWindowPastNotice(desk);
    ASSERT_NE(mainWindow, 0u) << "the main window and the notice";
    loadAndEnable("x11 line\n");
    desk.focus(targetWindow);
    desk.key("Tab");
    EXPECT_TRUE(waitForText("<Delete>x11 line")) << text();
    EXPECT_EQ(desk.windows("Keyquill"), std::vector<Window>{mainWindow}) << "told once";
}

} // namespace
