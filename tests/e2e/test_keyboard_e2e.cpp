// The real keyboard path against real X clients on a private Xvfb: hotkeys swallowed or passed,
// Caps Lock held in place, and typed text exact where it is hard: a client that is stopped while a
// line arrives, real toolkits (GTK 3, Qt 6) under several layouts, hotkeys pressed during a line or
// an action, faults in the middle of a line, and the keymap given back exactly.
// Quirk: gtest must come before the X11 headers, whose macros (None, Bool...) break it.
#include <gtest/gtest.h>

#include "engine/utf8.h"
#include "keyboard_world.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <cstdlib>
#include <functional>
#include <map>
#include <sstream>
#include <sys/stat.h>
#include <thread>
#include <tuple>

using namespace kq;
using namespace kq::e2e;
using namespace std::chrono_literals;

namespace {

// Shorter than the product's, so that a test that waits for a grace period stays quick; still far
// longer than the half second a stopped client lags.
const SpareTimings kTimings{2000ms, 4000ms, 200ms};

// `count` distinct characters from `first` on, repeated round-robin to `length` characters.
std::string cycle(char32_t first, int count, size_t length) {
    std::u32string s;
    for (size_t i = 0; s.size() < length; ++i)
        s += i % 9 == 8 ? U' ' : first + static_cast<char32_t>(i % static_cast<size_t>(count));
    return EncodeUtf8(s);
}

std::string longAsciiLine() {
    std::string line;
    for (int i = 0; line.size() < 2000; ++i)
        line += "word" + std::to_string(i % 97) + (i % 7 ? " " : ", ");
    line.resize(2000);
    return line;
}

void setLayout(const std::string& layout) {
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " " + layout).c_str()), 0);
}

// The engine and the real X11 keyboard against a recording target: no key may be left down and no
// message left unread at the end.
class KeyboardE2E : public ::testing::Test {
protected:
    void start(const std::vector<std::string>& target = {}) {
        std::string error;
        ASSERT_TRUE(world.start(&error, kTimings, target)) << error;
        world.state.MacroEnabled = true;
    }
    void TearDown() override {
        world.pump(100);
        EXPECT_TRUE(world.keysDown().empty()) << "a key was left down";
        EXPECT_TRUE(world.messages.empty()) << world.messages.front();
    }
    KeyboardWorld world;

    bool sawPress(const char* keysym) const {
        return world.events().find(std::string("P ") + keysym + " ") != std::string::npos;
    }
    // Whether the target had to take in a keymap change since it was last emptied.
    bool remapped() const { return world.events().find("MAPPING") != std::string::npos; }

    static constexpr const char* kNext = "next line: xyz Ω";
    static std::string faultLine() {
        std::string line;
        for (int i = 0; line.size() < 6000; ++i)
            line += "xyz" + std::to_string(i % 10) + (i % 5 ? " " : " → ✓ Ω ");
        return line;
    }
    // Loads `line` and kNext, types `line` and, from another thread with a connection of its own,
    // runs `fault` once part of the line has arrived.
    void typeWithFault(const std::function<void(Display*)>& fault, const std::string& line = faultLine()) {
        world.load({line, kNext});
        const std::string path = world.textPath();
        const size_t before = world.text().size();
        std::thread injector([&] {
            Display* own = XOpenDisplay(nullptr);
            struct stat st {};
            for (int i = 0; i < 25000 && !(stat(path.c_str(), &st) == 0 && size_t(st.st_size) > before + 300);
                 ++i)
                std::this_thread::sleep_for(200us);
            fault(own);
            XCloseDisplay(own);
        });
        world.tap(XK_Tab);
        world.pump(500);
        injector.join();
        world.pump(300);
    }
};

// While the line arrives the target is stopped for half a second: it looks every keycode up long
// after it was sent. The second line needs other characters, more than the pool has free, so
// keycodes of the first line are given new meanings, but only once their grace period is over.
TEST_F(KeyboardE2E, ClientStoppedMidLineReceivesEveryCharacter) {
    start();
    std::string expected;
    for (const std::string& line : {cycle(U'α', 24, 1500), cycle(U'а', 30, 1500)}) {
        typeWithFault(
            [&](Display*) {
                kill(world.targetPid(), SIGSTOP);
                std::this_thread::sleep_for(500ms);
                kill(world.targetPid(), SIGCONT);
            },
            line);
        expected += line;
        ASSERT_TRUE(world.waitForText(expected, 30000))
            << "got " << world.text().size() << " of " << expected.size() << " bytes";
    }
}

// Characters bound by an earlier line keep their keycodes: typing them again changes no keymap,
// so no client has to take in a mapping notification.
TEST_F(KeyboardE2E, BoundCharactersCostNoKeymapChange) {
    start();
    world.load({"Ωλ → ✓ é", "λΩ ✓ → é é"});
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("Ωλ → ✓ é"));
    world.pump(300);
    EXPECT_TRUE(remapped()) << "the first line binds characters the layout lacks";
    world.clearTarget();
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("λΩ ✓ → é é"));
    world.pump(300);
    EXPECT_FALSE(remapped()) << world.events();
}

// Two presses 30 ms apart, the second while the first line is still being typed: the line
// arrives whole and in order, then the second press types its line. In the single list that is
// the next line; in the multi-slot window another function key's row.
TEST_F(KeyboardE2E, SecondPressDuringALongLineTypesItsLineAfterIt) {
    start();
    const std::string line = longAsciiLine();
    for (int16_t mode : {ModeSingleList, ModeMultiSlot}) {
        SCOPED_TRACE(mode);
        world.use(mode, {line, "next"});
        const char* second = mode == ModeSingleList ? "Tab" : "F2";
        const pid_t user =
            spawn("xdotool", {"key", mode == ModeSingleList ? "Tab" : "F1", "sleep", "0.03", "key", second});
        const bool arrived = world.waitForText(line + "next", 20000);
        waitExit(user, 5000);
        ASSERT_TRUE(arrived) << "got " << world.text().size() << " bytes: ..." << world.text().substr(1900);
        world.pump(300);
        EXPECT_EQ(world.text(), line + "next");
        EXPECT_FALSE(world.state.HotkeyDown);
    }
}

// A press that arrives while the program yields inside an action (the list selection of the
// single list's key-up, the key test of the multi-slot window) waits for that action: taken then,
// it was a repeat of the press before (typing nothing) or it typed its line first.
TEST_F(KeyboardE2E, APressDuringAnActionsYieldWaitsForIt) {
    start();
    for (int16_t mode : {ModeSingleList, ModeMultiSlot}) {
        SCOPED_TRACE(mode);
        world.use(mode, {"b", "c"}, 1); // F2 and F3
        const KeySym first = mode == ModeSingleList ? XK_Tab : XK_F2,
                     second = mode == ModeSingleList ? XK_Tab : XK_F3;
        bool injected = false;
        world.duringYield = [&] {
            if (std::exchange(injected, true)) return;
            world.tap(second);
        };
        world.tap(first);
        EXPECT_TRUE(world.waitForText("bc", 3000)) << world.text();
        EXPECT_TRUE(injected);
        world.duringYield = nullptr;
    }
}

// While an action waits (here: a yield that lasts), hotkeys pressed meanwhile wait for it, but the
// keyboard does not: keys typed after them reach the window at once.
TEST_F(KeyboardE2E, KeysFlowWhileAnActionWaits) {
    start();
    world.load({"b", "c"});
    bool arrived = false, injected = false;
    world.duringYield = [&] {
        if (std::exchange(injected, true)) return;
        world.tap(XK_Tab);
        world.keyboard->processPendingEvents();
        world.tap(XK_Tab);
        world.tap(XK_y);
        arrived = world.pump(1000, [&] { return world.text().find('y') != std::string::npos; });
    };
    world.tap(XK_Tab);
    world.pump(500);
    world.duringYield = nullptr;
    EXPECT_TRUE(injected);
    EXPECT_TRUE(arrived) << "the keyboard was held while the action waited";
}

// {DELAY n} spaces the keys after it at least n ms apart as the window receives them, {DELAY 0}
// ends that, and {SLEEP n} pauses once (the server's clock counts whole milliseconds).
TEST_F(KeyboardE2E, DelayAndSleepSpaceTheKeysAtTheWindow) {
    start();
    world.load({"ab{DELAY 40}cde{DELAY 0}fg{SLEEP 300}h"});
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("abcdefgh"));
    std::map<std::string, long> pressed;
    std::istringstream in(world.events());
    for (std::string line, sym, state; std::getline(in, line);)
        if (line.rfind("P ", 0) == 0) std::istringstream(line.substr(2)) >> sym >> state >> pressed[sym];
    for (const auto& [from, to, least] :
         {std::tuple{"b", "c", 39}, {"c", "d", 39}, {"d", "e", 39}, {"g", "h", 299}})
        EXPECT_GE(pressed[to] - pressed[from], least) << from << " to " << to;
}

// The lines of the browser probe through real toolkits: each looks keycodes up in its own
// keymap copy, refreshed from mapping notifications.
struct Toolkit {
    const char* name;
    std::vector<std::string> command;
};

class ToolkitE2E : public KeyboardE2E, public ::testing::WithParamInterface<Toolkit> {};

TEST_P(ToolkitE2E, EveryLineArrivesExactOnUsGermanAndFrench) {
    const std::vector<std::pair<std::string, std::string>> lines = {
        {"!\"#$&'*,-./:;<=>?@[\\]_`|{+}{^}{%}{~}{{}{}}", "!\"#$&'*,-./:;<=>?@[\\]_`|+^%~{}"},
        {"é ü ß € ñ ç", "é ü ß € ñ ç"},
        {"→ ← ✓ 日本語 Ωλ", "→ ← ✓ 日本語 Ωλ"},
        {"😀", "😀"},
        {longAsciiLine(), longAsciiLine()},
    };
    start(GetParam().command);
    const std::string before = keymapDump();
    std::string expected;
    for (const char* layout : {"us", "de", "fr"}) {
        SCOPED_TRACE(layout);
        setLayout(layout);
        world.pump(200);
        std::vector<std::string> list;
        for (const auto& [notation, typed] : lines)
            list.push_back(notation + "{ENTER}");
        world.load(list);
        for (const auto& [notation, typed] : lines) {
            expected += typed + "\n";
            world.tap(XK_Tab);
            ASSERT_TRUE(world.waitForText(expected, 20000))
                << "expected: " << typed
                << "\ngot: " << world.text().substr(world.text().rfind('\n', world.text().size() - 2) + 1);
        }
    }
    setLayout("us");
    world.pump(200);
    EXPECT_TRUE(keymapDump() == before) << "bindings made under one layout must not leak into another";
}

INSTANTIATE_TEST_SUITE_P(Toolkits, ToolkitE2E,
                         ::testing::Values(Toolkit{"Gtk3", {"/usr/bin/python3", KQ_E2E_GTK_TARGET}},
                                           Toolkit{"Qt6", {KQ_E2E_QT_TARGET}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A fast typist has Caps Lock still down when the next letters go down: they reach the window, in
// order and in the case of the lock state before the press (the press is swallowed, so it changes
// nothing), and a hotkey pressed meanwhile types its line.
TEST_F(KeyboardE2E, KeysPressedWhileCapsLockIsHeldArriveUnchanged) {
    start();
    struct Case {
        int16_t mode;
        bool shift, lockOn;
    };
    // Every hotkey is grabbed under the same modifier sets: modes and Shift need not be crossed.
    for (const Case c : {Case{ModeSingleList, false, false}, Case{ModeMultiSlot, true, false},
                         Case{ModeSingleList, false, true}}) {
        SCOPED_TRACE(testing::Message()
                     << "mode " << c.mode << (c.shift ? " shift" : "") << (c.lockOn ? " lock" : ""));
        world.use(c.mode, {"Line 1"});
        XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, c.lockOn ? LockMask : 0);
        const auto cased = [&](std::string s) {
            if (c.shift != c.lockOn)
                for (char& ch : s)
                    ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
            return s;
        };
        if (c.shift) world.press(XK_Shift_L);
        world.press(XK_Caps_Lock);
        world.tap(XK_a), world.tap(XK_b);
        world.tap(c.mode == ModeSingleList ? XK_Tab : XK_F1);
        ASSERT_TRUE(world.waitForText(cased("ab") + "Line 1")) << world.text();
        world.tap(XK_c);
        world.release(XK_Caps_Lock);
        world.tap(XK_d);
        if (c.shift) world.release(XK_Shift_L);
        ASSERT_TRUE(world.waitForText(cased("ab") + "Line 1" + cased("cd"))) << world.text();
        EXPECT_FALSE(sawPress("Caps_Lock"));
        world.catchUp(); // the lock as the program leaves it at the release, not before
        XkbStateRec st{};
        XkbGetState(world.user, XkbUseCoreKbd, &st);
        EXPECT_EQ(st.locked_mods & LockMask, c.lockOn ? LockMask : 0u) << "Caps Lock must stay as it was";
    }
    XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, 0);
    XSync(world.user, False);
}

// Keys with a modifier the hotkeys do not take go on to the window as pressed, in either mode, and
// type nothing: Alt+F4 is the window manager's, Super and AltGr combinations the desktop's.
TEST_F(KeyboardE2E, KeysWithAltSuperOrAltGrHeldPassThrough) {
    start();
    struct Case {
        int16_t mode;
        KeySym modifier, key;
        const char* name;
    };
    for (const Case& c :
         {Case{ModeMultiSlot, XK_Alt_L, XK_F4, "F4"}, Case{ModeMultiSlot, XK_Super_L, XK_F1, "F1"},
          Case{ModeSingleList, XK_Super_L, XK_Tab, "Tab"},
          Case{ModeSingleList, XK_ISO_Level3_Shift, XK_Tab, "Tab"}}) {
        SCOPED_TRACE(std::string(XKeysymToString(c.modifier)) + "+" + c.name);
        world.use(c.mode, {"one", "two", "three", "four"});
        world.press(c.modifier);
        world.tap(c.key);
        world.release(c.modifier);
        ASSERT_TRUE(world.pump(
            3000, [&] { return world.events().find(std::string("R ") + c.name) != std::string::npos; }));
        EXPECT_TRUE(sawPress(c.name));
        world.catchUp();
        EXPECT_EQ(world.text(), std::string("<") + c.name + ">") << "the key alone, no line";
    }
}

// A short line goes out in one write, so it needs no mark on the root window saying Keyquill is
// typing (a mark is there for a copy killed mid-line): the press disturbs no client that watches
// the root. A line too long for one write is marked.
TEST_F(KeyboardE2E, OnlyALineThatTakesSeveralWritesMarksTheRoot) {
    start();
    Display* watcher = XOpenDisplay(nullptr);
    ASSERT_NE(watcher, nullptr);
    XSelectInput(watcher, DefaultRootWindow(watcher), PropertyChangeMask);
    XSync(watcher, False);
    for (const auto& [line, marks] :
         {std::pair{std::string("short line, Shifted: ABC!"), false}, std::pair{std::string(200, 'x'), true}}) {
        SCOPED_TRACE(line.size());
        world.use(ModeSingleList, {line});
        world.tap(XK_Tab);
        ASSERT_TRUE(world.waitForText(line)) << world.text();
        world.catchUp();
        XSync(watcher, False);
        int changes = 0;
        for (XEvent ev; XPending(watcher);)
            XNextEvent(watcher, &ev), changes += ev.type == PropertyNotify;
        EXPECT_EQ(changes > 0, marks) << changes << " changes of the root's properties";
    }
    XCloseDisplay(watcher);
}

// A line that types Alt+Tab itself hands it on to the window, and the user's next TAB still types
// the next line: it must not be taken for the line's own Tab, nor the key-up before it, read while
// the line held Alt, for a key-up with Alt held (which would leave the key latched).
TEST_F(KeyboardE2E, AltTabTypedByALineGoesOnAndTheNextTabTypes) {
    start();
    world.use(ModeSingleList, {"a%{TAB}b", "next"});
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("a<Tab>b")) << world.text();
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("a<Tab>bnext")) << world.text();
}

// Typed keys pass through the filter like pressed ones: a Tab typed while TAB is the bound hotkey
// is taken as a hotkey press (and, the latch being set, types nothing). What follows it in the
// line must still arrive, in order and in its own case, Caps Lock on or off.
TEST_F(KeyboardE2E, BoundKeyInsideALineIsTakenAndTheRestStillArrives) {
    start();
    for (const bool lockOn : {false, true}) {
        SCOPED_TRACE(lockOn ? "Caps Lock on" : "Caps Lock off");
        XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, lockOn ? LockMask : 0);
        world.use(ModeSingleList, {"user{TAB}se{TAB}cret~", "next"});
        world.tap(XK_Tab);
        ASSERT_TRUE(world.waitForText("usersecret\n")) << world.text();
        world.tap(XK_Tab);
        ASSERT_TRUE(world.waitForText("usersecret\nnext")) << world.text();
        world.catchUp();
        XkbStateRec st{};
        XkbGetState(world.user, XkbUseCoreKbd, &st);
        EXPECT_EQ(st.locked_mods & LockMask, lockOn ? LockMask : 0u);
    }
    XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, 0);
    XSync(world.user, False);
}

// A fault while a long line is being typed; the line holds characters the layout lacks, so spare
// keycodes are bound. After each: no key is left down (TearDown) and the next press types its line
// exactly. None of these faults touches the keymap, so only the layout switch checks what closing
// the keyboard leaves (an ordinary close is checked with the whole program).
class FaultE2E : public KeyboardE2E {
protected:
    void expectNextLine() {
        world.clearTarget();
        world.tap(XK_Tab);
        EXPECT_TRUE(world.waitForText(kNext)) << world.text();
    }
};

// The rest of the line goes wherever the focus went when the window vanished: nothing of it
// comes back later.
TEST_F(FaultE2E, TargetWindowClosesMidLine) {
    start();
    typeWithFault([&](Display*) { kill(world.targetPid(), SIGKILL); });
    const std::string got = world.text(), line = faultLine();
    EXPECT_TRUE(!got.empty() && got.size() < line.size() && line.compare(0, got.size(), got) == 0)
        << got.size() << " bytes, not a beginning of the line";
    ASSERT_TRUE(world.replaceTarget());
    world.load({kNext});
    expectNextLine();
}

// The line is split between the two windows at the moment of the switch, nothing lost or doubled.
TEST_F(FaultE2E, FocusMovesToAnotherWindowMidLine) {
    start();
    const auto other = world.openTarget("other");
    ASSERT_NE(other.window, 0u);
    typeWithFault([&](Display* d) {
        XSetInputFocus(d, other.window, RevertToParent, CurrentTime);
        XSync(d, False);
    });
    const std::string first = world.text(), second = readFile(other.textPath);
    EXPECT_FALSE(first.empty() || second.empty()) << "the switch came before or after the line";
    EXPECT_TRUE(first + second == faultLine()) << first.size() << " + " << second.size() << " bytes";
    const auto third = world.openTarget("third");
    world.focus(third.window);
    world.load({kNext});
    world.tap(XK_Tab);
    EXPECT_TRUE(world.pump(5000, [&] { return readFile(third.textPath) == kNext; }))
        << readFile(third.textPath);
}

// The German keymap as one request puts it in place: a switch that lands within a moment of the
// trigger. (setxkbmap compiles a keymap first and lands anywhere in the line, or after it.)
class GermanKeymap {
public:
    GermanKeymap() : m_dpy(XOpenDisplay(nullptr)) {
        setLayout("de");
        m_desc = XkbGetMap(m_dpy, XkbAllMapComponentsMask, XkbUseCoreKbd);
        setLayout("us");
    }
    ~GermanKeymap() {
        XkbFreeKeyboard(m_desc, 0, True);
        XCloseDisplay(m_dpy);
    }
    // On a connection of the caller's (another thread's), or on its own.
    void apply(Display* d = nullptr) const {
        XkbSetMap(d ? d : m_dpy, XkbAllMapComponentsMask, m_desc);
        XSync(d ? d : m_dpy, False);
    }

private:
    Display* m_dpy;
    XkbDescPtr m_desc;
};

// Keys sent in the instant of the switch are read with the new keymap (a chunk or two of them);
// from the first character that differs on, all but those arrive exact, and closing the keyboard
// leaves the new keymap as it was, with no spare keycode bound.
TEST_F(FaultE2E, LayoutSwitchesMidLine) {
    const GermanKeymap german;
    german.apply();
    const std::string expectedKeymap = keymapDump();
    setLayout("us");
    start();
    size_t atSwitch = 0;
    typeWithFault([&](Display* own) {
        german.apply(own);
        atSwitch = world.text().size();
    });
    const std::string got = world.text(), line = faultLine();
    size_t differs = 0;
    while (differs < got.size() && differs < line.size() && got[differs] == line[differs])
        ++differs;
    constexpr size_t kSwitchWindow = 600; // bytes: two chunks of the line's widest characters
    ASSERT_LT(atSwitch + kSwitchWindow, line.size()) << "the switch came too late to test anything";
    const std::string tail = line.substr(std::min(line.size(), differs + kSwitchWindow));
    EXPECT_TRUE(got.size() >= tail.size() && got.compare(got.size() - tail.size(), tail.size(), tail) == 0)
        << "after the switch (byte " << differs << " of " << line.size() << ") the line must be exact";
    expectNextLine();
    world.keyboard.reset();
    EXPECT_TRUE(keymapDump() == expectedKeymap) << "a spare keycode was left bound";
    setLayout("us");
}

// The user's Caps Lock press mid-line is swallowed: the lock stays off and the line's case holds.
TEST_F(FaultE2E, CapsLockPressedMidLine) {
    start();
    typeWithFault([](Display* d) {
        const KeyCode caps = XKeysymToKeycode(d, XK_Caps_Lock);
        XTestFakeKeyEvent(d, caps, True, CurrentTime);
        XTestFakeKeyEvent(d, caps, False, CurrentTime);
        XSync(d, False);
    });
    EXPECT_EQ(world.text(), faultLine());
    XkbStateRec st{};
    XkbGetState(world.user, XkbUseCoreKbd, &st);
    EXPECT_FALSE(st.locked_mods & LockMask);
    expectNextLine();
}

} // namespace
