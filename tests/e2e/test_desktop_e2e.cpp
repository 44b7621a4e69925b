// Keyquill as a desktop program: its settings file making every window translucent and coloured
// at start and written at the way out (through the tray, or not at all), an X server that goes
// away, a hotkey another program holds, a window manager moving the focus, a desktop without a
// tray, and the installed program run by an ordinary user.
#include "desktop.h"

#include <X11/keysym.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/wait.h>

using namespace kq::e2e;
namespace fs = std::filesystem;

namespace {

class DesktopE2E : public KeyquillTest {
protected:
    // keyquill keeps config.ini in its own folder: the test runs a copy of its own.
    void startCopy() {
        fs::copy_file(KQ_KEYQUILL, dir / "keyquill");
        startKeyquill(path("keyquill"));
        Desktop::settle(300); // painted
    }
    unsigned long background() const {
        return desk.pixel(mainWindow, 6, desk.geometry(mainWindow).h - 201 + 100);
    }
    void exitThroughTheMenu() {
        desk.focus(mainWindow);
        desk.keys({"alt+f", "Down", "Down", "Down", "Down", "Down", "Down", "Return"});
    }
    // Opens the options window and moves the background's red bar one step up: its right arrow,
    // the bar sitting in "Background" (8, 24) inside "Colouring" (8, 72), at (48, 24), 225 pixels
    // wide. Closing the window saves the settings.
    static void nudgeRed(Desktop& d, Window main, bool close = true) {
        d.focus(main);
        d.keys({"alt+f", "Down", "Down", "Return"}); // Options
        const Window options = d.findWindow("Keyquill Options");
        ASSERT_NE(options, 0u);
        d.focus(options);
        const Rect o = d.geometry(options);
        d.click(o.x + 8 + 8 + 48 + 225 - 6, o.y + 72 + 24 + 24 + 8);
        if (close) d.closeWindow(options);
        Desktop::settle(300);
    }
};

TEST_F(DesktopE2E, SavedSettingsMakeAllWindowsTranslucentAndRed) {
    std::ofstream(dir / "config.ini", std::ios::binary) << "255 0 1 128\r\n";
    startCopy();
    for (const char* title : {"Keyquill", "Keyquill - Config 1", "Keyquill Options"}) {
        const Window w = desk.findWindow(title, 5000, false);
        ASSERT_NE(w, 0u) << title;
        EXPECT_EQ(desk.opacity(w), 128) << title;
    }
    EXPECT_EQ(background(), 0xFF0000ul) << "the background is red";
}

TEST_F(DesktopE2E, SliderMovedThenTrayExitWritesTheSettings) {
    startCopy();
    // The tray host starts after keyquill: the icon must still dock.
    helpers.push_back(spawn("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                       "--height", "24", "--SetDockType", "true"}));
    const Window panel = desk.findWindow("panel");
    ASSERT_NE(panel, 0u);
    ASSERT_NO_FATAL_FAILURE(nudgeRed(desk, mainWindow, false));
    const Rect p = desk.geometry(panel);
    desk.click(p.x + p.w / 2, p.y + p.h / 2, 3);
    desk.keys({"Down", "Down", "Down", "Return"}); // Minimize, Restore, Exit
    ASSERT_TRUE(exited(5000)) << "Exit in the tray menu ends the program";
    EXPECT_EQ(readFile(path("config.ini")), "13137921 16777215 0 215\r\n");
}

TEST_F(DesktopE2E, UnwritableSettingsAreReportedAndTheProgramStillEnds) {
    fs::create_directories(dir / "config.ini"); // a folder where the file should be: no write, even as root
    startCopy();
    exitThroughTheMenu();
    const Window box = desk.findWindow("Keyquill", 5000);
    ASSERT_NE(box, 0u) << "a message names the file";
    desk.pressReturnIn(box);
    EXPECT_TRUE(exited(5000));
}

// The options window saves when it is closed; the X server then dies. The program ends with one
// line and status 1, and config.ini holds the new colour.
TEST_F(DesktopE2E, AColourSurvivesTheXServerGoingAway) {
    fs::copy_file(KQ_KEYQUILL, dir / "keyquill");
    PrivateXvfb own;
    std::string error;
    ASSERT_TRUE(own.start(&error)) << error; // sets DISPLAY to its own server
    const pid_t kq = spawn("sh", {"-c", "exec \"$0\" 2>\"$1\"", path("keyquill"), path("stderr")});
    {
        Desktop d; // gone before the server: the test's own connections must not see it die
        const Window main = d.findWindow("Keyquill");
        ASSERT_NE(main, 0u);
        nudgeRed(d, main);
    }
    own.stop();
    setenv("DISPLAY", XvfbDisplay().c_str(), 1);
    int status = -1;
    WaitUntil([&] { return waitpid(kq, &status, WNOHANG) != 0; }, 5000);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(readFile(path("stderr")), "keyquill: the X server went away; exiting\n");
    EXPECT_EQ(readFile(path("config.ini")), "13137921 16777215 0 215\r\n");
}

// Started where there is no display at all (a console, ssh), or asked to hand a key to a
// Keyquill that does not run, or with a key it does not know: one line and status 1, no abort.
TEST_F(DesktopE2E, WithoutADisplayOrARunningKeyquillOneLineAndStatusOne) {
    const std::string runtime = "XDG_RUNTIME_DIR=" + dir.string() + " ";
    const struct {
        std::string command, said;
    } cases[] = {
        {"env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM " KQ_KEYQUILL,
         "no display to show its windows on (neither DISPLAY nor WAYLAND_DISPLAY is set)"},
        {"env -u DISPLAY " + runtime + KQ_KEYQUILL " --press tab",
         "no Keyquill is running to take the key (" + dir.string() + "/keyquill-" + std::to_string(getuid()) +
             ".trigger)"},
        {"env " + runtime + KQ_KEYQUILL " --tap f13", "usage: keyquill --press|--release|--tap tab|f1..f12"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(runCapture(c.command + " 2>&1; echo $?"), "keyquill: " + c.said + "\n1\n") << c.command;
}

// Another client holds TAB: ticking "Enabled" tells the user, once, and Keyquill runs on.
TEST_F(DesktopE2E, AHotkeyHeldByAnotherProgramIsReported) {
    helpers.push_back(spawn(KQ_E2E_TARGET, {path("text"), path("events"), "grabber", "grab-tab"}));
    ASSERT_NE(desk.findWindow("grabber"), 0u);
    startKeyquill(KQ_KEYQUILL);
    loadAndEnable("a\r\n");
    const Window box = newKeyquillWindow(mainWindow);
    ASSERT_NE(box, 0u) << "no message about TAB";
    desk.pressReturnIn(box);
    EXPECT_FALSE(exited(500));
}

// Under a window manager, which frames the windows and moves the focus itself, TAB types the line
// in whichever window has the focus and never reaches it: after the focus moved, and after the
// focused window closed. (Keyquill's grabs follow the focused window: the wait is for them to be
// there, which another client's grab of TAB on that window, refused, shows.)
TEST_F(DesktopE2E, UnderAWindowManagerTabTypesWhereverTheFocusGoes) {
    startKeyquill(KQ_KEYQUILL);
    loadAndEnable("a\r\n");
    helpers.push_back(spawn("openbox", {}));
    ASSERT_TRUE(WaitUntil(
        [&] { return runCapture("xprop -root _NET_SUPPORTING_WM_CHECK").find('#') != std::string::npos; }));
    Display* dpy = desk.display();
    const KeyCode tab = XKeysymToKeycode(dpy, XK_Tab);
    static int refusals = 0;
    XSetErrorHandler([](Display*, XErrorEvent* e) { return refusals += e->error_code == BadAccess, 0; });
    const auto heldByKeyquill = [&](Window w) {
        const int before = refusals;
        XGrabKey(dpy, tab, 0, w, True, GrabModeAsync, GrabModeAsync);
        XUngrabKey(dpy, tab, 0, w);
        XSync(dpy, False);
        return refusals > before;
    };
    std::map<std::string, pid_t> targets;
    const auto typeInto = [&](const std::string& name) {
        // Framed by the window manager: found through it, and focused by it.
        const std::string id = runCapture("timeout 10 xdotool search --sync --onlyvisible --name '^" + name +
                                          "$' windowactivate --sync %@ getactivewindow 2>/dev/null");
        ASSERT_FALSE(id.empty()) << name;
        const Window w = std::stoul(id);
        ASSERT_TRUE(WaitUntil([&] { return heldByKeyquill(w); })) << "no grab on " << name;
        desk.key("Tab");
    };
    for (const std::string name : {"first", "second"})
        helpers.push_back(targets[name] = spawn(KQ_E2E_TARGET, {path(name), path(name + ".events"), name}));
    typeInto("first");
    typeInto("second");
    kill(targets["second"], SIGKILL);
    typeInto("first");
    // Each line starts with the backspace of "Auto Backspace", which the window logs by name.
    EXPECT_TRUE(WaitUntil([&] { return readFile(path("first")) == "<Delete>a<Delete>a"; }))
        << readFile(path("first"));
    EXPECT_EQ(readFile(path("second")), "<Delete>a");
}

// Without a tray host, minimising must not hide the window where nothing can bring it back: it
// stays in the window manager's list and comes back when activated.
TEST_F(DesktopE2E, MinimisedWithoutATrayTheWindowCanBeRestored) {
    helpers.push_back(spawn("openbox", {}));
    Desktop::settle(500);
    keyquill = spawn(KQ_KEYQUILL, {});
    // Framed by the window manager: found through it, not among the root's children.
    const std::string visible =
        "xdotool search --sync --onlyvisible --name '^Keyquill$' 2>/dev/null | head -1";
    const std::string id = runCapture("timeout 10 " + visible);
    ASSERT_FALSE(id.empty()) << "keyquill did not show its window";
    ASSERT_EQ(system(("xdotool windowminimize --sync " + id).c_str()), 0);
    char hex[32];
    std::snprintf(hex, sizeof hex, "0x%lx", std::stoul(id));
    EXPECT_NE(runCapture("xprop -root _NET_CLIENT_LIST").find(hex), std::string::npos)
        << "the window left the task list";
    ASSERT_EQ(system(("xdotool windowactivate --sync " + id).c_str()), 0);
    EXPECT_EQ(runCapture("timeout 5 " + visible), id) << "the window came back";
}

// Installed in a folder the user cannot write, run by an ordinary user: the settings go to
// ~/.config/keyquill and come back at the next start.
TEST_F(DesktopE2E, TheInstalledProgramRemembersSettingsInTheUsersConfigFolder) {
    const fs::path prefix = dir / "prefix", home = dir / "home";
    ASSERT_EQ(
        system(("cmake --install " KQ_BUILD_DIR " --prefix " + prefix.string() + " >/dev/null").c_str()), 0);
    fs::create_directories(home);
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all);
    ASSERT_EQ(system(("chown nobody " + home.string() + " " + (dir / "run").string()).c_str()), 0);
    fs::permissions(dir, fs::perms::owner_all | fs::perms::others_exec | fs::perms::group_exec);
    const std::vector<std::string> asNobody = {"-u",
                                               "nobody",
                                               "--",
                                               "env",
                                               "HOME=" + home.string(),
                                               "XDG_RUNTIME_DIR=" + (dir / "run").string(),
                                               "DISPLAY=" + XvfbDisplay(),
                                               (prefix / "bin/keyquill").string()};
    keyquill = spawn("runuser", asNobody);
    mainWindow = desk.findWindow("Keyquill");
    ASSERT_NE(mainWindow, 0u);
    nudgeRed(desk, mainWindow);
    exitThroughTheMenu();
    ASSERT_TRUE(exited(5000));
    EXPECT_FALSE(fs::exists(prefix / "bin/config.ini"));
    EXPECT_EQ(readFile((home / ".config/keyquill/config.ini").string()), "13137921 16777215 0 215\r\n");

    keyquill = spawn("runuser", asNobody);
    mainWindow = desk.findWindow("Keyquill");
    ASSERT_NE(mainWindow, 0u);
    Desktop::settle(300); // painted
    EXPECT_EQ(background(), 0x0178C8ul) << "the saved colour applies";
}

} // namespace
