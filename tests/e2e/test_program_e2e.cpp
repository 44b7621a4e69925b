// The real keyquill under Xvfb, driven like a person drives it: menus, the file dialog, check
// boxes, and hotkeys pressed while another application has the focus.
#include "desktop.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <csignal>

using namespace kq::e2e;

namespace {

class ProgramE2E : public KeyquillTest {
protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(KeyquillTest::SetUp());
        helpers.push_back(spawn(KQ_E2E_TARGET, {path("text"), path("events"), "kq-target"}));
        targetWindow = desk.findWindow("kq-target");
        ASSERT_NE(targetWindow, 0u);
        keymapBefore = keymapDump();
        startKeyquill(KQ_KEYQUILL);
    }
    // Whether a tap of Caps Lock toggles the lock, as the keymap says it should once no Keyquill
    // runs (a dump of the keymap does not show key actions). The lock is switched off again.
    bool capsKeyToggles() {
        Display* d = desk.display();
        const KeyCode kc = XKeysymToKeycode(d, XK_Caps_Lock);
        XTestFakeKeyEvent(d, kc, True, CurrentTime);
        XTestFakeKeyEvent(d, kc, False, CurrentTime);
        XkbStateRec st{};
        XkbGetState(d, XkbUseCoreKbd, &st);
        XkbLockModifiers(d, XkbUseCoreKbd, LockMask, 0);
        XSync(d, False);
        return st.locked_mods & LockMask;
    }

    Window targetWindow = 0;
    std::string keymapBefore;
};

// The multi-slot window's rows go to a file and come back from it unchanged (File > Save, Restore
// Defaults, File > Load); what the rows type is a journey of every desktop.
TEST_F(ProgramE2E, TheSlotSetRoundTripsThroughItsFile) {
    const Window multi = ui.openMultiSlot(mainWindow);
    ASSERT_NE(multi, 0u);
    ASSERT_TRUE(ui.fillRow(multi, 0, "echo one, (two)"));
    ASSERT_TRUE(ui.fillRow(multi, 2, "third", true));
    const std::string golden = readFile(KQ_E2E_GOLDEN "/slotset.txt");
    ASSERT_TRUE(ui.fileDialog(multi, {"alt+f", "Down", "Return"}, path("set1.txt")));
    EXPECT_EQ(readFile(path("set1.txt")), golden);
    desk.focus(multi);
    desk.keys({"alt+f", "Down", "Down", "Down", "Return"}); // Restore Defaults
    ASSERT_TRUE(ui.fileDialog(multi, {"alt+f", "Return"}, path("set1.txt")));
    ASSERT_TRUE(ui.fileDialog(multi, {"alt+f", "Down", "Return"}, path("set2.txt")));
    EXPECT_EQ(readFile(path("set2.txt")), golden) << "Load must bring back the same rows";
}

// Yes only: what matters here is that the lock is seen across processes. "No" is the start-up's
// own logic, checked without a display.
TEST_F(ProgramE2E, SecondCopyAsksAndOnYesRunsBesideTheFirst) {
    const pid_t second = spawn(KQ_KEYQUILL, {});
    const Window box = newKeyquillWindow(mainWindow);
    ASSERT_NE(box, 0u) << "the second copy asks first";
    desk.focus(box);
    desk.key("Return"); // Yes, the default answer
    // Its hotkeys are already grabbed by the first copy: it must run on regardless.
    EXPECT_NE(newKeyquillWindow(box), 0u);
    EXPECT_FALSE(waitExit(second, 1500)) << "the second copy must keep running";
    terminate(second);
}

// Killed in the middle of a line full of characters the layout lacks, Keyquill leaves them bound;
// the next Keyquill on the same X server puts the keymap back as it was before the first one.
TEST_F(ProgramE2E, BindingsLeftByAKilledCopyAreRemovedAtTheNextStart) {
    std::string line;
    for (int i = 0; line.size() < 6000; ++i)
        line += i % 8 == 7 ? std::string(" ")
                           : std::string("αβγδεζηθικλμνξοπρστυφχψω").substr(size_t(i % 24) * 2, 2);
    loadAndEnable(line + "\r\n");
    desk.focus(targetWindow);
    desk.key("Tab");
    const std::string del = "<Delete>"; // "Auto Backspace" is ticked at start
    for (int i = 0; i < 2000 && text().size() <= del.size(); ++i)
        Desktop::settle(1);
    kill(keyquill, SIGKILL);
    ASSERT_TRUE(exited(5000));
    EXPECT_EQ(text().substr(0, del.size() + 4), del + line.substr(0, 4)) << "nothing of the line was typed";
    EXPECT_LT(text().size(), del.size() + line.size()) << "the kill came after the line";
    EXPECT_FALSE(keymapDump() == keymapBefore) << "the killed copy left its bindings";
    EXPECT_FALSE(capsKeyToggles()) << "the killed copy left the Caps Lock key without its action";

    startKeyquill(KQ_KEYQUILL);
    EXPECT_TRUE(keymapDump() == keymapBefore) << "the next copy put the keymap back";
    char keys[32];
    XQueryKeymap(desk.display(), keys);
    EXPECT_EQ(std::count(keys, keys + 32, 0), 32) << "no key may stay held";
    terminate(keyquill);
    keyquill = 0;
    EXPECT_TRUE(capsKeyToggles()) << "the Caps Lock key has its action back";
}

// Characters the layout lacks stay bound after a line; ten seconds without typing give the keymap
// back, and so does closing the program, at once.
TEST_F(ProgramE2E, BindingsAreRemovedWhenIdleAndAtExit) {
    loadAndEnable("→ ✓\r\n");
    desk.focus(targetWindow);
    desk.key("Tab");
    ASSERT_TRUE(waitForText("<Delete>→ ✓")) << text();
    EXPECT_FALSE(keymapDump() == keymapBefore) << "the line's bindings outlive it";
    Desktop::settle(10000 + 500);
    EXPECT_TRUE(keymapDump() == keymapBefore) << "idle: the keymap is the user's again";

    desk.key("Tab");
    ASSERT_TRUE(waitForText("<Delete>→ ✓<Delete>→ ✓")) << text();
    terminate(keyquill);
    keyquill = 0;
    EXPECT_TRUE(keymapDump() == keymapBefore) << "exit: the keymap is the user's again";
    EXPECT_TRUE(capsKeyToggles()) << "exit: the Caps Lock key has its action back";
}

// In a window that passes key codes on (a nested X server, German on both sides) every character
// the layout has arrives, AltGr and Shift levels at full speed and those it composes through a dead
// key; what no key gives is left out, never replaced by another, and named in one message box for
// the line. In a window of the desktop's own the same line has all its characters.
TEST_F(ProgramE2E, AWindowThatPassesKeyCodesOnGetsWhatItsLayoutHasAndAMessageNamesTheRest) {
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " de").c_str()), 0);
    helpers.push_back(spawn("/bin/sh", {KQ_E2E_XEPHYR_TARGET, "/usr/bin/python3", KQ_E2E_GTK_TARGET,
                                        path("nested"), path("nested-events")}));
    const Window forwarder = desk.findWindow("kq-forwarder");
    const std::string first = "é {^}a ✓ Ω → ✓\n";
    loadAndEnable(first + "[x] @q {{}y{}} |{~}\\ €e µm Straße ÄÖÜ °\n" + first);
    ui.clickAutoBackspace(mainWindow);
    const auto nested = [&](const std::string& want) {
        return WaitUntil([&] { return readFile(path("nested")) == want; }) ||
               (ADD_FAILURE() << readFile(path("nested")), false);
    };
    desk.focus(forwarder);
    desk.key("Tab");
    ASSERT_TRUE(nested("é ^a  Ω → "));
    const Window box = newKeyquillWindow(mainWindow);
    ASSERT_NE(box, 0u) << "no message about the characters left out";
    desk.focus(box), desk.key("Return");
    desk.focus(forwarder);
    desk.key("Tab");
    ASSERT_TRUE(nested("é ^a  Ω → [x] @q {y} |~\\ €e µm Straße ÄÖÜ °"));
    desk.focus(targetWindow);
    desk.key("Tab");
    EXPECT_TRUE(WaitUntil([&] { return readFile(path("text")) == "é ^a ✓ Ω → ✓"; }))
        << readFile(path("text"));
    EXPECT_EQ(desk.windows("Keyquill").size(), 1u)
        << "a second message for the same line, or one for a whole line";
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " us").c_str()), 0);
}

// A Windows program under Wine works out a key's character late, with the AltGr state of a later
// key: on each layout its AltGr, Shift and spare-keycode characters still arrive exactly. The line
// ends by selecting and copying what arrived (Ctrl+A, Ctrl+C), so the clipboard shows it once the
// program has read every key.
TEST_F(ProgramE2E, AWindowsProgramUnderWineGetsEveryCharacterOnEachLayout) {
    const std::string expected = "[x] @q {y} |~\\ €e µm ß Ä é → ✓ Ω";
    loadAndEnable("[x] @q {{}y{}} |{~}\\ €e µm ß Ä é → ✓ Ω^a^c\n");
    const std::vector<std::string> wine = {"WINEPREFIX=" + path("wine"), "WINEDEBUG=-all",
                                           "WINEDLLOVERRIDES=mscoree,mshtml="};
    const std::string clipboard = "/usr/bin/python3 " KQ_E2E_CLIPBOARD " get";
    for (const char* layout : {"us", "de", "fr"}) {
        SCOPED_TRACE(layout);
        ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " " + layout).c_str()), 0);
        const pid_t notepad = spawnWith(wine, {"/usr/lib/wine/wine64", "notepad"});
        const Window window = desk.findWindow("Untitled - Notepad", 60000); // a new prefix first
        ASSERT_NE(window, 0u);
        desk.focus(window);
        desk.key("Tab");
        std::string copied;
        // Each look at the clipboard starts a program: a hundred of them take many seconds.
        EXPECT_TRUE(WaitUntil([&] { return (copied = runCapture(clipboard)) == expected; }, 1000)) << copied;
        terminate(notepad);
        runCaptureWith(wine, "/usr/lib/wine/wineserver -k");
    }
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " us").c_str()), 0);
}

} // namespace
