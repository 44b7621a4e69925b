// The real keyquill on a headless GNOME Shell 43 with its extension: what GNOME alone can break
// (the journeys cover the rest). Keyquill's windows are on the private Xvfb.
#include "backend.h"
#include "gnome_session.h"

#include <csignal>
#include <sys/wait.h>

using namespace kq::e2e;

namespace {

constexpr int kTab = 15, kCapsLock = 58;

class GnomeE2E : public BackendE2E {
protected:
    Backend& backend() const override { return TheDesktop(desktop); }
    GnomeSession& gnome() const { return TheGnomeSession(desktop); }
    std::string clipboard() {
        return runCaptureWith(gnome().env(true), std::string("GDK_BACKEND=x11 ") + KQ_E2E_CLIPBOARD + " get");
    }
    Desk desktop = Desk::Gnome;
};

// The shell takes a key Keyquill types while it is grabbed for itself: a tab in a line must
// reach the window all the same, and the next press of Tab is still Keyquill's. A user's Tab is
// still down when the line starts, and mutter drops a key pressed twice at once: the line's tab
// waits for the user to let go. Shells before 48 tell no one of that (a known problem): there the
// user's Tab is let go at once.
TEST_F(GnomeE2E, ATabInALineReachesTheWindowAndTabStaysTheHotkey) {
    loadList({"a{TAB}b", "c"}, true);
    openTarget(Client::Gtk);
    const bool releasesSeen = GnomeSession::version() >= 48;
    ASSERT_TRUE(gnome().key(kTab, true));
    ASSERT_TRUE(!releasesSeen || WaitUntil([&] { return !text().empty(); })) << "the line did not start";
    ASSERT_TRUE(gnome().key(kTab, false));
    ASSERT_TRUE(waitForText("a\tb")) << "got: " << text();
    ASSERT_TRUE(tap(kTab));
    EXPECT_TRUE(waitForText("a\tbc")) << "got: " << text();
}

// Keyquill killed outright: the extension lets its keys go, and Tab reaches the window again.
TEST_F(GnomeE2E, AKilledKeyquillLeavesNoKeyGrabbed) {
    loadList({"x"});
    kill(keyquill, SIGKILL);
    EXPECT_TRUE(WaitUntil([&] { return gnome().bound().find('"') == std::string::npos; })) << gnome().bound();
    openTarget(Client::Gtk);
    ASSERT_TRUE(tap(kTab));
    EXPECT_TRUE(waitForText("\t")) << "got: " << text();
}

// Lines into each kind of client: every printable ASCII character, characters the layout lacks
// (pasted), a long line typed at the pace mutter's clients keep up with, longer ones pasted whole.
// Every line arrives, no client is cut off, and the clipboard the user had is theirs again.
TEST_F(GnomeE2E, LinesArriveInEachKindOfClientWhichStaysConnected) {
    std::vector<std::string> lines{
        " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmn"
        "opqrstuvwxyz{|}~",
        "é ü ß € “x” — → 日本語 😀"};
    for (size_t n : {1000u, 2000u, 10000u}) {
        std::string line;
        for (size_t i = 0; line.size() < n; ++i)
            line += "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789 .,;:-_!?"[i % 73];
        lines.push_back(line);
    }
    loadList(lines);
    helpers.push_back(spawnWith(gnome().env(true), {"GDK_BACKEND=x11", KQ_E2E_CLIPBOARD, "set", "mine"}));
    ASSERT_TRUE(WaitUntil([&] { return clipboard() == "mine"; })) << clipboard();
    for (Client client : {Client::XTerm, Client::Gtk, Client::Gtk4}) {
        openTarget(client);
        std::string expected;
        for (const std::string& line : lines) {
            ASSERT_TRUE(tap(kTab));
            expected += line;
            ASSERT_TRUE(waitForText(expected, 30000))
                << static_cast<int>(client) << " got " << text().size() << ": " << text().substr(0, 300);
        }
        EXPECT_EQ(waitpid(target, nullptr, WNOHANG), 0) << "the client was cut off";
    }
    EXPECT_TRUE(WaitUntil([&] { return clipboard() == "mine"; })) << clipboard();
}

// GNOME switches the lock even for a grabbed Caps Lock (only applications miss the key), and
// Keyquill switches it off when it starts, as on X11.
TEST_F(GnomeE2E, CapsLockStillSwitchesAndKeyquillSwitchesItOffAtStart) {
    loadList({"x"});
    ASSERT_TRUE(tap(kCapsLock));
    ASSERT_TRUE(WaitUntil([&] { return gnome().capsLocked(); }));
    terminate(keyquill);
    mainWindow = backend().launch(desk, &keyquill);
    ASSERT_NE(mainWindow, 0u);
    EXPECT_TRUE(WaitUntil([&] { return !gnome().capsLocked(); }));
}

// GNOME without the extension: the portals. The user is asked once to let Keyquill type, at its
// first line; GNOME's answer is kept, so Keyquill started again types at once and asks nothing
// about its keys either. What the layout lacks is pasted through the portal's clipboard, and the
// user's own clipboard is back afterwards.
class GnomePortalE2E : public GnomeE2E {
protected:
    GnomePortalE2E() { desktop = Desk::GnomePortal; }
};

TEST_F(GnomePortalE2E, TheUserIsAskedOnceAndTheirClipboardIsBack) {
    helpers.push_back(spawnWith(gnome().env(true), {"GDK_BACKEND=x11", KQ_E2E_CLIPBOARD, "set", "mine"}));
    ASSERT_TRUE(WaitUntil([&] { return clipboard() == "mine"; })) << clipboard();
    int asked = 0;
    for (int start = 0; start < 2; ++start) {
        if (start == 1) {
            terminate(keyquill);
            mainWindow = backend().launch(desk, &keyquill);
            ASSERT_NE(mainWindow, 0u);
        }
        loadList({"a é"});
        openTarget(Client::Gtk);
        ASSERT_TRUE(tap(kTab));
        ASSERT_TRUE(waitForText("a é", 30000)) << "got: " << text();
        EXPECT_TRUE(WaitUntil([&] { return clipboard() == "mine"; })) << clipboard();
        // One dialog for the keys and one for typing, whichever test used the portal first.
        if (start == 0) {
            EXPECT_GE(asked = gnome().dialogsAnswered, 2);
        } else {
            EXPECT_EQ(gnome().dialogsAnswered, asked) << "asked again after a restart";
        }
    }
}

// The user refuses to let Keyquill type: that line fails with Keyquill's message, and the next
// press asks again. The permission kept from before (beside the program here) is forgotten first.
TEST_F(GnomePortalE2E, TypingRefusedFailsTheLineAndTheNextPressAsksAgain) {
    terminate(keyquill);
    std::filesystem::remove(std::filesystem::path(KQ_KEYQUILL).parent_path() / "remote-desktop-token");
    mainWindow = backend().launch(desk, &keyquill);
    ASSERT_NE(mainWindow, 0u);
    loadList({"a"});
    openTarget(Client::Gtk);
    gnome().refuseTyping = true;
    const int asked = gnome().dialogsAnswered;
    ASSERT_TRUE(tap(kTab));
    const Window message = newKeyquillWindow(mainWindow);
    ASSERT_NE(message, 0u) << "no message for the line that could not be typed";
    EXPECT_TRUE(WaitUntil([&] { return gnome().dialogsAnswered == asked + 1; }));
    desk.pressReturnIn(message);
    ASSERT_TRUE(tap(kTab));
    EXPECT_TRUE(waitForText("a", 30000)) << "got: " << text();
    EXPECT_EQ(gnome().dialogsAnswered, asked + 2) << "typing was not asked for again";
}

} // namespace
