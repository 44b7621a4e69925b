// The real keyboard path against a real X client on a private Xvfb: hotkeys swallowed or passed,
// Caps Lock held in place, and typed text exact on several layouts.
// Quirk: gtest must come before the X11 headers, whose macros (None, Bool...) break it.
#include <gtest/gtest.h>

#include "engine/keytable.h"
#include "keyboard_world.h"

#include <X11/XKBlib.h>
#include <X11/keysym.h>

using namespace kq;
using namespace kq::e2e;

namespace {

const bool g_xvfb = RegisterSharedXvfb();
const std::string kBraced = "{+}{^}{%}{~}{{}{}}";

class KeyboardE2E : public ::testing::Test {
protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(world.start(&error)) << error;
    }
    void TearDown() override {
        world.pump(100);
        const std::vector<int> down = world.keysDown();
        EXPECT_TRUE(down.empty()) << "a key was left down: keycode " << (down.empty() ? 0 : down[0]);
        EXPECT_TRUE(world.messages.empty()) << world.messages.front();
    }
    bool sawPress(const char* keysym) const {
        return world.events().find(std::string("P ") + keysym + " ") != std::string::npos;
    }
    std::string keymapDump() const { return runCapture("xkbcomp -xkb " + XvfbDisplay() + " - 2>/dev/null"); }

    KeyboardWorld world;
};

TEST_F(KeyboardE2E, BoundKeyIsSwallowedOnlyWhileEnabled) {
    world.load({"one", "two"});
    world.tap(XK_Tab);
    ASSERT_TRUE(world.pump(3000, [&] { return world.events().find("R Tab") != std::string::npos; }));
    EXPECT_TRUE(sawPress("Tab")) << "disabled: the press must reach the application";
    EXPECT_EQ(world.text(), "<Tab>");

    world.clearTarget();
    world.state.MacroEnabled = true;
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("one"));
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("onetwo"));
    world.pump(200);
    EXPECT_FALSE(sawPress("Tab")) << world.events();
    EXPECT_FALSE(world.state.HotkeyDown) << "the key-up must clear the latch";
    EXPECT_EQ(world.state.CommandIndex, 0) << "the cursor wraps after the last line";
}

TEST_F(KeyboardE2E, FunctionKeysAreSwallowedInMultiSlotModeEvenForEmptyRows) {
    world.state.MacroMode = ModeMultiSlot;
    world.rows.enabled[0] = 1;
    world.rows.text[0] = "first(1)";
    world.rows.enabled[2] = 1;
    world.rows.addEnter[2] = 1;
    world.rows.text[2] = "third, row";
    for (unsigned long k = XK_F1; k <= XK_F12; ++k)
        world.tap(k);
    ASSERT_TRUE(world.waitForText("first(1)third, row\n"));
    world.pump(200);
    for (int f = 1; f <= 12; ++f)
        EXPECT_FALSE(sawPress(("F" + std::to_string(f)).c_str())) << f;
}

TEST_F(KeyboardE2E, CapsLockIsSwallowedAndItsStateKept) {
    for (int16_t mode : {ModeSingleList, ModeMultiSlot}) {
        world.state.MacroMode = mode;
        world.clearTarget();
        world.tap(XK_Caps_Lock);
        world.tap(XK_a);
        ASSERT_TRUE(world.waitForText("a")) << world.text();
        EXPECT_FALSE(sawPress("Caps_Lock"));
        XkbStateRec st{};
        XkbGetState(world.user, XkbUseCoreKbd, &st);
        EXPECT_FALSE(st.locked_mods & LockMask) << "Caps Lock must stay off";
    }
}

TEST_F(KeyboardE2E, AltFunctionKeysAndLockKeysPassThrough) {
    world.state.MacroMode = ModeMultiSlot;
    world.press(XK_Alt_L);
    world.tap(XK_F4);
    world.release(XK_Alt_L);
    world.tap(XK_Num_Lock);
    world.tap(XK_Num_Lock);
    world.tap(XK_Scroll_Lock);
    ASSERT_TRUE(world.pump(3000, [&] { return world.events().find("R Scroll_Lock") != std::string::npos; }));
    EXPECT_TRUE(sawPress("F4"));
    EXPECT_TRUE(sawPress("Num_Lock"));
    EXPECT_TRUE(sawPress("Scroll_Lock"));
}

TEST_F(KeyboardE2E, HeldHotkeyTypesOneLine) {
    world.load({"once", "twice"});
    world.state.MacroEnabled = true;
    XkbSetAutoRepeatRate(world.user, XkbUseCoreKbd, 100, 20);
    world.press(XK_Tab);
    world.pump(800);
    world.release(XK_Tab);
    world.pump(300);
    EXPECT_EQ(world.text(), "once");
    EXPECT_EQ(world.list.selected, 1) << "the release selects the next line";
}

TEST_F(KeyboardE2E, HeldShiftDoesNotChangeTheText) {
    world.load({"hello World"});
    world.state.MacroEnabled = true;
    world.press(XK_Shift_L);
    world.tap(XK_Tab);
    world.pump(300);
    world.release(XK_Shift_L);
    ASSERT_TRUE(world.waitForText("hello World")) << world.text();
}

// Every line is typed through the hotkey and must arrive character for character: kBraced, in key
// notation, as "+^%~{}", and every other line as itself.
void typeAndCompare(KeyboardWorld& world, const std::vector<std::string>& lines) {
    world.load(lines);
    world.state.MacroEnabled = true;
    std::string expected;
    for (const auto& line : lines) {
        expected += line == kBraced ? "+^%~{}" : line;
        world.tap(XK_Tab);
        ASSERT_TRUE(world.waitForText(expected, 20000))
            << "expected: " << expected << "\ngot: " << world.text();
    }
}

TEST_F(KeyboardE2E, TypedTextIsExactOnUsGermanAndFrenchLayouts) {
    const std::string before = keymapDump();
    for (const char* layout : {"us", "de", "fr"}) {
        SCOPED_TRACE(layout);
        ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " " + layout).c_str()), 0);
        world.clearTarget();
        typeAndCompare(world, {"The quick brown fox jumps over the lazy dog 0123456789",
                               "!\"#$&'*,-./:;<=>?@[\\]_`|(x)", kBraced, "MIXED Case UPPER", "é ü ß €",
                               "arrow → here and ↔ there"});
    }
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " us").c_str()), 0);
    world.pump(200);
    EXPECT_EQ(keymapDump(), before) << "temporary bindings must leave the keymap as it was";
}

TEST_F(KeyboardE2E, LongLineArrivesComplete) {
    std::string line;
    for (int i = 0; line.size() < 5000; ++i)
        line += "word" + std::to_string(i % 97) + (i % 7 ? " " : ", ");
    line.resize(5000);
    typeAndCompare(world, {line});
}

// Typed keys pass through the filter like pressed ones: a Tab typed while TAB is the bound hotkey
// is taken as a hotkey press (and, the latch being set, types nothing). What follows it in the
// line must still arrive, in order.
TEST_F(KeyboardE2E, BoundKeyInsideALineIsTakenAndTheRestStillArrives) {
    world.load({"user{TAB}secret~", "next"});
    world.state.MacroEnabled = true;
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("usersecret\n")) << world.text();
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("usersecret\nnext")) << world.text();
}

TEST_F(KeyboardE2E, CapsLockOnDoesNotChangeTheCaseOfTypedText) {
    XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, LockMask);
    XSync(world.user, False);
    typeAndCompare(world, {"lower UPPER"});
    XkbStateRec st{};
    XkbGetState(world.user, XkbUseCoreKbd, &st);
    EXPECT_TRUE(st.locked_mods & LockMask) << "the user's lock comes back after the line";
    XkbLockModifiers(world.user, XkbUseCoreKbd, LockMask, 0);
    XSync(world.user, False);
}

} // namespace
