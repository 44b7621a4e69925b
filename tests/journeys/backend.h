#pragma once
// The desktops the end-to-end tests run the real Keyquill on (X11, sway, KWin), behind one
// interface: how a program becomes a client, how the user's keys reach the desktop, how Keyquill
// starts there and when its keys are bound. Keyquill's own windows are on the Xvfb in every case,
// where the tests drive them.
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

enum class Client { Qt, Gtk, Gtk4, XTerm, Recorder };

class Backend {
public:
    virtual ~Backend() = default;
    virtual const char* name() const = 0;
    // Once for every test that uses it; the reason when the desktop cannot run here.
    bool ensureStarted(std::string* error);
    virtual void stop() = 0;
    // `env` arguments that make a program a client of this desktop (an X11 one when asked).
    virtual std::vector<std::string> env(bool x11Client) const = 0;
    // The user's keyboard, by evdev code: "down N", "up N", "tap N", "layout de"; true once the
    // desktop has handled it.
    virtual bool user(const std::string& command) = 0;
    bool tap(int key) { return user("tap " + std::to_string(key)); }
    // Keyquill started on this desktop: its main window, 0 when it did not show.
    virtual Window launch(Desktop& desk, pid_t* keyquill) = 0;
    // Waits until the desktop has bound Keyquill's keys (or let them all go).
    virtual bool waitBound(bool) { return true; }
    virtual bool isX11() const { return false; }
    // False where the desktop is not installed (labwc before Debian 13): its cases are skipped.
    virtual bool available() const { return true; }
    // False where a key Keyquill lets pass never reaches the application (see the README).
    virtual bool passedKeyReachesClients() const { return true; }
    // The release of a swallowed key may reach the focused window (clients ignore a release whose
    // press they never saw).
    virtual bool releaseMayPass() const { return false; }
    // Where an input method converts the user's keys: whether its engine is on in the focused
    // window, switched on first when asked.
    virtual bool engineOn(bool /*switchOn*/) { return true; }
    // Where the desktop follows its engine's state: the engine announces a change of it without
    // pause (as engines do when a window gains the focus or the user switches their mode), or
    // stops.
    virtual void engineRestless(bool /*on*/) {}

protected:
    virtual bool start(std::string* error) = 0;

private:
    bool m_tried = false;
    std::string m_error;
};

// One of each desktop for the whole program: started once, stopped at the end. Trigger is a
// wlroots compositor whose own bindings run the command-line trigger (played by a second sway).
enum class Desk {
    X11,
    Sway,
    Kwin,
    Trigger,
    Gnome,
    Labwc,
    GnomePortal,
    GnomePinyin,
    X11IBus,
    X11Fcitx5,
    SwayFcitx5
};
Backend& TheDesktop(Desk which);
// The sessions of sway (swaymsg), GNOME and KWin (layouts, portal sessions), for their own tests.
class SwaySession& TheSwaySession();
class GnomeSession& TheGnomeSession(Desk which = Desk::Gnome);
class KwinSession& TheKwinSession();

// A test of the real keyquill serving one desktop: clients of that desktop record what they
// receive, and keyquill's windows are driven on the Xvfb.
class BackendE2E : public KeyquillTest {
protected:
    virtual Backend& backend() const = 0;

    void SetUp() override {
        if (!backend().available()) GTEST_SKIP() << backend().name() << " is not installed";
        std::string error;
        ASSERT_TRUE(backend().ensureStarted(&error)) << backend().name() << ": " << error;
        ASSERT_NO_FATAL_FAILURE(KeyquillTest::SetUp());
        mainWindow = backend().launch(desk, &keyquill);
        ASSERT_NE(mainWindow, 0u) << "keyquill did not show its window";
    }
    void TearDown() override {
        if (!backend().available()) return;
        terminate(target);
        KeyquillTest::TearDown();
        backend().waitBound(false);
    }
    // Starts a recording client of this kind; it has the keyboard focus when this returns.
    void openTarget(Client kind);
    // Every press and release the recording client saw, as "P <keysym>" / "R <keysym>" lines.
    std::string keyLog() const;
    // Loads these lines as the list (typed as they stand, or read in the key notation), ticks
    // "Enabled", unticks "Auto Backspace" and waits until the desktop has bound the keys.
    void loadList(const std::vector<std::string>& lines, bool notation = false) {
        std::string content;
        for (const auto& l : lines)
            content += (notation ? l : literal(l)) + "\n";
        loadAndEnable(content);
        ui.clickAutoBackspace(mainWindow);
        ASSERT_TRUE(backend().waitBound(true));
    }
    // The user's keyboard of this desktop.
    bool tap(int key) { return backend().tap(key); }
    bool user(const std::string& command) { return backend().user(command); }

    pid_t target = 0;
    std::string recorderArgs;
};

} // namespace kq::e2e
