#pragma once
// Drives real X clients the way a person would: finds windows by title, clicks, presses keys and
// types text through XTest on a connection of its own.
// Quirk: gtest must come before the X11 headers, whose macros (None, Bool...) break it.
#include <gtest/gtest.h>

#include "xvfb.h"

#include <X11/Xlib.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace kq {
class X11Keyboard;
}

namespace kq::e2e {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

class Desktop {
public:
    Desktop();
    ~Desktop();
    bool ok() const { return m_dpy != nullptr; }
    Display* display() const { return m_dpy; }

    // The newest mapped top-level window with this exact title, or 0 after the timeout.
    Window findWindow(const std::string& title, int timeoutMs = 10000, bool mappedOnly = true) const;
    // Every top-level window with this exact title, now, in stacking order.
    std::vector<Window> windows(const std::string& title, bool mappedOnly = true) const;
    // _NET_WM_WINDOW_OPACITY scaled to 0..255, or -1 when the window has none.
    int opacity(Window w) const;
    // The colour of one pixel of a window, as 0xRRGGBB.
    unsigned long pixel(Window w, int x, int y) const;
    Rect geometry(Window w) const;
    void focus(Window w) const;
    void pressReturnIn(Window w) const { focus(w), key("Return"); }
    // Asks the window to close, as its close box does (WM_DELETE_WINDOW).
    void closeWindow(Window w) const;
    void click(int x, int y, unsigned button = 1) const;
    // "alt+f", "Down", "Return", "F3", "Tab": keysym names joined by '+'.
    void key(const std::string& combo) const;
    void keys(const std::vector<std::string>& combos) const;
    // Types text exactly (it may hold any character), into the focused window.
    bool type(const std::string& text) const;
    static void settle(int ms);

private:
    Display* m_dpy = nullptr;
    std::unique_ptr<X11Keyboard> m_typing;
};

// Keyquill's own windows driven as a person drives them: menus, the file dialog, the "Enabled"
// and "Auto Backspace" boxes, the multi-slot window's rows. The offsets are the windows' layout
// at 96 DPI, measured from the bottom of the window (above it, the menu bar).
class KeyquillWindows {
public:
    explicit KeyquillWindows(const Desktop& desk) : m_desk(desk) {}
    void clickClient(Window w, int clientTop, int x, int y) const {
        const Rect r = m_desk.geometry(w);
        m_desk.click(r.x + x, r.y + clientTop + y);
    }
    // Opens the file dialog with the menu keys given and answers it with a path.
    bool fileDialog(Window w, const std::vector<std::string>& menuKeys, const std::string& file) const {
        m_desk.focus(w);
        m_desk.keys(menuKeys);
        Desktop::settle(400);
        const bool typed = m_desk.type(file);
        m_desk.key("Return");
        Desktop::settle(300);
        return typed;
    }
    bool loadList(Window main, const std::string& list) const {
        return fileDialog(main, {"alt+f", "Return"}, list);
    }
    void clickEnabled(Window main) const { clickClient(main, m_desk.geometry(main).h - 201, 16 + 7, 8 + 8); }
    void clickAutoBackspace(Window main) const {
        clickClient(main, m_desk.geometry(main).h - 201, 88 + 7, 8 + 8);
    }
    // File > Switch to Multiline; the multi-slot window, or 0 when it did not appear.
    Window openMultiSlot(Window main) const {
        m_desk.focus(main);
        m_desk.keys({"alt+f", "Down", "Down", "Down", "Down", "Down", "Return"});
        return m_desk.findWindow("Keyquill - Config 1");
    }
    // Types `text` into row r (F r+1) of the multi-slot window and ticks its "enable" box, and
    // "Include ENTER" too when asked.
    bool fillRow(Window multi, int r, const std::string& text, bool withEnter = false) const {
        const int menuBar = m_desk.geometry(multi).h - 513;
        const auto click = [&](int x) { clickClient(multi, menuBar, 16 + x, 24 + 40 * r + 16 + 8); };
        m_desk.focus(multi);
        click(64 + 100);
        if (!m_desk.type(text)) return false;
        click(8 + 7);
        if (withEnter) click(496 + 7);
        return true;
    }

private:
    const Desktop& m_desk;
};

// Until `done` holds, for at most `ms`; whether it held. A wait for an event the test cannot be
// told of, only see.
template <class Done> bool WaitUntil(Done done, int ms = 10000) {
    for (int i = 0; i < ms / 10 && !done(); ++i)
        Desktop::settle(10);
    return done();
}

// Keyquill's main window, once the notice shown with it at start (the shorter window of the two,
// sharing its title) has been answered; 0 when the two did not appear.
inline Window MainWindowPastNotice(const Desktop& desk) {
    std::vector<Window> shown;
    if (!WaitUntil([&] { return (shown = desk.windows("Keyquill")).size() == 2; })) return 0;
    const bool firstIsMain = desk.geometry(shown[0]).h > desk.geometry(shown[1]).h;
    desk.pressReturnIn(shown[firstIsMain ? 1 : 0]);
    Desktop::settle(200);
    return shown[firstIsMain ? 0 : 1];
}

// A test that runs keyquill in a folder of its own, which is also its runtime folder (so no other
// copy's single-instance lock is seen), and drives its windows.
class KeyquillTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir =
            RuntimeDir(std::string("kq-") + ::testing::UnitTest::GetInstance()->current_test_suite()->name());
        ASSERT_TRUE(desk.ok());
    }
    void TearDown() override {
        terminate(keyquill);
        for (pid_t pid : helpers) // other clients a test started (a tray host, a window manager)
            terminate(pid);
        std::filesystem::remove_all(dir);
    }
    void startKeyquill(const std::string& program) {
        keyquill = spawn(program, {});
        mainWindow = desk.findWindow("Keyquill");
        ASSERT_NE(mainWindow, 0u) << "keyquill did not show its window";
    }
    bool exited(int ms) { return waitExit(keyquill, ms) && (keyquill = 0, true); }
    // The newest "Keyquill" window other than `other` (a message, a second copy's question or its
    // window), or 0 when none shows within five seconds.
    Window newKeyquillWindow(Window other) const {
        Window w = 0;
        WaitUntil([&] { return (w = desk.findWindow("Keyquill", 0)) && w != other; }, 5000);
        return w != other ? w : 0;
    }
    // Writes a list file with this content, loads it through File > Load and ticks "Enabled".
    void loadAndEnable(const std::string& content) {
        std::ofstream(path("list.txt"), std::ios::binary) << content;
        ASSERT_TRUE(ui.loadList(mainWindow, path("list.txt")));
        ui.clickEnabled(mainWindow);
    }
    std::string path(const std::string& name) const { return (dir / name).string(); }
    // What the recording client received (the file "text"); an xterm's reports of its focus are
    // not text.
    std::string text() const {
        std::string t = readFile(path("text"));
        for (const char* report : {"\x1b[I", "\x1b[O"})
            for (size_t at; (at = t.find(report)) != std::string::npos;)
                t.erase(at, 3);
        return t;
    }
    bool waitForText(const std::string& expected, int ms = 5000) const {
        WaitUntil([&] { return text().size() >= expected.size(); }, ms);
        Desktop::settle(50); // anything more that would arrive
        return text() == expected;
    }

    std::filesystem::path dir;
    Desktop desk;
    KeyquillWindows ui{desk};
    pid_t keyquill = 0;
    Window mainWindow = 0;
    std::vector<pid_t> helpers;
};

} // namespace kq::e2e
