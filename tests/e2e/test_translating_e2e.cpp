// Windows that do not read keys the way Xlib does, with the real X11 keyboard typing into them:
// a nested X server that passes key codes on to its own keymap.
#include "keyboard_test.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace kq;
using namespace kq::e2e;

namespace {

class TranslatingE2E : public KeyboardWorldTest {
protected:
    void TearDown() override {
        KeyboardWorldTest::TearDown();
        setLayout("us");
    }
};

// The nested server reads the key codes with German, as the outer one. Every character the layout
// has arrives, AltGr and Shift levels at full speed, and those it composes through a dead key;
// what no key gives is left out, never replaced by another character, and named once per line.
// Elsewhere the same line has all its characters.
TEST_F(TranslatingE2E, AWindowThatForwardsKeyCodesGetsWhatItsLayoutHas) {
    setLayout("de");
    ASSERT_NO_FATAL_FAILURE(
        start({}, {"/bin/sh", KQ_E2E_XEPHYR_TARGET, "/usr/bin/python3", KQ_E2E_GTK_TARGET}));
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

} // namespace
