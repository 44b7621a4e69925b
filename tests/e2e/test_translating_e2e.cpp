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

// IBus with its Pinyin engine on, as a Chinese-speaking user has it: in a GTK 3 and a Qt 6 window
// the lines arrive as written, the engine is Pinyin again afterwards, and what the user types
// then is converted again ("ni" and Space make 你).
TEST_F(TranslatingE2E, AnInputMethodLeavesTheLineAsWritten) {
    const pid_t ibus = spawn("/usr/bin/env", {"GSETTINGS_BACKEND=memory", "ibus-daemon", "--panel=disable", "--replace"});
    const auto engine = [] { return runCapture("ibus engine 2>/dev/null"); };
    ASSERT_TRUE(world.pump(20000, [&] { return runCapture("ibus engine libpinyin 2>&1") == "" && engine() == "libpinyin\n"; }));
    const std::vector<std::string> clients[] = {{"/usr/bin/env", "GTK_IM_MODULE=ibus", "/usr/bin/python3", KQ_E2E_GTK_TARGET},
                                                {"/usr/bin/env", "QT_IM_MODULE=ibus", KQ_E2E_QT_TARGET}};
    ASSERT_NO_FATAL_FAILURE(start({}, clients[0]));
    world.load({"hello world 123", "Hello, World! é ✓"});
    for (const auto& client : clients) {
        SCOPED_TRACE(client[1]);
        const KeyboardWorld::Target target = world.openTarget(client[1], client);
        world.focus(target.window);
        const auto text = [&] { return readFile(target.textPath); };
        world.tap(XK_Tab);
        world.tap(XK_Tab);
        EXPECT_TRUE(world.pump(10000, [&] { return text() == "hello world 123Hello, World! é ✓"; })) << text();
        // Given back a moment after the line, when the window has handed its keys on.
        ASSERT_TRUE(world.pump(5000, [&] { return engine() == "libpinyin\n"; })) << engine();
        world.tap(XK_n), world.tap(XK_i), world.tap(XK_space);
        EXPECT_TRUE(world.pump(10000, [&] { return text() == "hello world 123Hello, World! é ✓你"; })) << text();
    }
    terminate(ibus);
}

} // namespace
