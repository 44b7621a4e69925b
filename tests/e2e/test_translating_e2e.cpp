// Windows that do not read keys the way Xlib does, with the real X11 keyboard typing into them:
// a nested X server that passes key codes on to its own keymap, and a Windows program under Wine,
// which works out a key's character late.
#include "keyboard_test.h"

#include <X11/keysym.h>

using namespace kq;
using namespace kq::e2e;

namespace {

const bool g_xvfb = RegisterSharedXvfb();

class TranslatingE2E : public KeyboardWorldTest {
protected:
    void TearDown() override {
        KeyboardWorldTest::TearDown();
        setLayout("us");
    }
    // What Wine's notepad holds, through its Select All and Copy.
    std::string copied() {
        world.press(XK_Control_L), world.tap(XK_a), world.tap(XK_c), world.release(XK_Control_L);
        world.pump(300);
        return runCapture("/usr/bin/python3 " KQ_E2E_CLIPBOARD " get");
    }
};

// The nested server reads the key codes with German, as the outer one. Every character the layout
// has arrives, AltGr and Shift levels at full speed, and those it composes through a dead key;
// what no key gives is left out, never replaced by another character, and named once per line.
// Elsewhere the same line has all its characters.
TEST_F(TranslatingE2E, AWindowThatForwardsKeyCodesGetsWhatItsLayoutHas) {
    setLayout("de");
    ASSERT_NO_FATAL_FAILURE(start({}, {"/bin/sh", KQ_E2E_XEPHYR_TARGET, "/usr/bin/python3", KQ_E2E_GTK_TARGET}));
    world.load({"é {^}a ✓ Ω → ✓", "[x] @q {{}y{}} |{~}\\ €e µm Straße ÄÖÜ °"});
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("é ^a  Ω → ")) << world.text();
    EXPECT_NE(world.keyboard->takeNotice().find("could not type ✓ in this window"), std::string::npos);
    EXPECT_EQ(world.keyboard->takeNotice(), "");
    world.tap(XK_Tab);
    ASSERT_TRUE(world.waitForText("é ^a  Ω → [x] @q {y} |~\\ €e µm Straße ÄÖÜ °")) << world.text();
    EXPECT_EQ(world.keyboard->takeNotice(), "");
    const KeyboardWorld::Target local = world.openTarget("local");
    world.focus(local.window);
    world.tap(XK_Tab);
    EXPECT_TRUE(world.pump(10000, [&] { return readFile(local.textPath) == "é ^a ✓ Ω → ✓"; }))
        << readFile(local.textPath);
}

// Wine's notepad on three layouts: AltGr and Shift levels and characters no layout has, at full
// speed, each line read back whole.
TEST_F(TranslatingE2E, AWindowsProgramUnderWineGetsEveryCharacter) {
    ASSERT_EQ(system("/bin/sh " KQ_E2E_WINE_TARGET " --prepare"), 0);
    ASSERT_NO_FATAL_FAILURE(start({}, {"/bin/sh", KQ_E2E_WINE_TARGET}));
    const std::pair<const char*, std::string> lines[] = {
        {"us", "Hello, World! [x] @q {{}y{}} |{~}\\ é → ✓"},
        {"de", "[x] @q {{}y{}} €e |{~}\\ µm Straße ÄÖÜ Ω →i é ✓"},
        {"fr", "[x] @q {{}y{}} €e |{~}\\ àéèçù µ° Ω ✓ ß"},
    };
    for (const auto& [layout, line] : lines) {
        SCOPED_TRACE(layout);
        setLayout(layout);
        world.load({line + "{ENTER}"});
        world.tap(XK_Tab);
        std::string expected = line, got;
        for (const char* escaped : {"{{}", "{}}", "{~}"})
            expected.replace(expected.find(escaped), 3, std::string(1, escaped[1]));
        EXPECT_TRUE(world.pump(10000, [&] { return (got = copied()) == expected + "\n"; })) << got;
        world.tap(XK_Delete);
    }
}

} // namespace
