#pragma once
// What the Wayland end-to-end tests share: list lines written as they stand, environments put
// together, and Keyquill's top-level windows on the Xvfb where its UI runs.
#include "desktop.h"

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kq::e2e {

// The notation's own characters, written so that they are typed as they stand (the program
// escapes parentheses itself).
inline std::string literal(const std::string& text) {
    std::string out;
    for (char c : text)
        out += std::string("+^%~{}").find(c) != std::string::npos ? std::string("{") + c + "}"
                                                                  : std::string(1, c);
    return out;
}

inline std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Keyquill's viewable top-level windows (the main window, and a notice or message box).
inline std::vector<Window> keyquillWindows(const Desktop& desk) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    std::vector<Window> found;
    if (!XQueryTree(desk.display(), DefaultRootWindow(desk.display()), &root, &parent, &children, &n))
        return found;
    for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a{};
        char* name = nullptr;
        if (XGetWindowAttributes(desk.display(), children[i], &a) && a.map_state == IsViewable &&
            XFetchName(desk.display(), children[i], &name) && name && std::string(name) == "Keyquill")
            found.push_back(children[i]);
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

// Keyquill's main window, once the notice shown with it at start (the shorter window of the two,
// sharing its title) has been answered; 0 when the two did not appear.
inline Window MainWindowPastNotice(const Desktop& desk) {
    std::vector<Window> shown;
    for (int i = 0; i < 500 && shown.size() < 2; ++i, Desktop::settle(20))
        shown = keyquillWindows(desk);
    if (shown.size() != 2) return 0;
    const bool firstIsMain = desk.geometry(shown[0]).h > desk.geometry(shown[1]).h;
    desk.focus(shown[firstIsMain ? 1 : 0]);
    desk.key("Return");
    Desktop::settle(200);
    return shown[firstIsMain ? 0 : 1];
}

enum class Client { Qt, Gtk, XTerm, Recorder };

// A test of the real keyquill serving a Wayland session: clients of that session record what
// they receive, and keyquill's windows are driven on the Xvfb.
class WaylandE2E : public KeyquillTest {
protected:
    // The environment that makes a program a client of the session (an X11 one through XWayland).
    virtual std::vector<std::string> sessionEnv(bool x11Client) const = 0;

    void TearDown() override {
        terminate(target);
        KeyquillTest::TearDown();
    }
    // Starts a recording client of this kind; it has the keyboard focus when this returns.
    void openTarget(Client kind) {
        terminate(target);
        std::filesystem::remove(path("text"));
        const std::string events = path("events");
        std::filesystem::remove(events);
        if (kind == Client::Recorder) { // its log is the text; it says when it has the focus
            target = spawn("env", concat(sessionEnv(false), {"sh", "-c",
                                                             std::string("exec ") + KQ_WL_RECORDER + " " +
                                                                 recorderArgs + " > " + path("text")}));
            for (int i = 0; i < 1000 && text().find("F in") == std::string::npos; ++i)
                Desktop::settle(10);
            ASSERT_NE(text().find("F in"), std::string::npos) << "the recorder did not get the focus";
            return;
        }
        if (kind == Client::XTerm) {
            target = spawn(
                "env", concat(sessionEnv(true),
                              {"LC_ALL=C.UTF-8", "xterm", "-xrm", "XTerm*utf8: 1", "-e", "sh", "-c",
                               "stty raw -echo; echo MAPPED > " + events + "; exec cat > " + path("text")}));
        } else if (kind == Client::Qt) {
            target = spawn("env", concat(sessionEnv(false), {"QT_QPA_PLATFORM=wayland", KQ_E2E_QT_TARGET,
                                                             path("text"), events, "kq-target"}));
        } else {
            target = spawn("env", concat(sessionEnv(false), {"GDK_BACKEND=wayland", KQ_E2E_GTK_TARGET,
                                                             path("text"), events, "kq-target"}));
        }
        for (int i = 0; i < 1000 && readFile(events).find("MAPPED") == std::string::npos; ++i)
            Desktop::settle(10);
        ASSERT_NE(readFile(events).find("MAPPED"), std::string::npos) << "the target did not start";
        Desktop::settle(500); // mapped is not yet focused
    }
    std::string text() const { return readFile(path("text")); }
    bool waitForText(const std::string& expected, int ms = 5000) const {
        for (int i = 0; i < ms / 10 && text().size() < expected.size(); ++i)
            Desktop::settle(10);
        Desktop::settle(50); // anything more that would arrive
        return text() == expected;
    }
    std::string writeList(const std::vector<std::string>& lines) const {
        std::ofstream f(path("list.txt"), std::ios::binary);
        for (const auto& l : lines)
            f << literal(l) << "\n";
        return path("list.txt");
    }
    void clickEnabled() { clickClient(mainWindow, desk.geometry(mainWindow).h - 201, 16 + 7, 8 + 8); }
    void untickAutoBackspace() { clickClient(mainWindow, desk.geometry(mainWindow).h - 201, 88 + 7, 8 + 8); }

    pid_t target = 0;
    std::string recorderArgs;
};

} // namespace kq::e2e
