// Windows that do not read keys the way Xlib does, with the real X11 keyboard typing into them:
// a nested X server that passes key codes on to its own keymap, and input methods.
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

// Fcitx5 with its Pinyin engine on, as a Chinese-speaking user has it, on a private session bus
// that Keyquill uses too. In a GTK 3 and a Qt 6 window the lines arrive as written, the engine
// converts again afterwards, and what the user types then is converted ("ni" and Space make 你).
// (IBus is among the journeys, through the real program; Fcitx5 is not yet: there the start of a
// line now and then arrived after its end, in about one run of six.)
TEST_F(TranslatingE2E, Fcitx5LinesArriveAsWrittenAndTheEngineIsBackAfterwards) {
    const std::string folder = "/tmp/kq-im-" + std::to_string(getpid());
    std::filesystem::create_directories(folder + "/fcitx5");
    std::ofstream(folder + "/fcitx5/profile")
        << "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n"
           "[Groups/0/Items/0]\nName=keyboard-us\n[Groups/0/Items/1]\nName=pinyin\n"
           "[GroupOrder]\n0=Default\n";
    pid_t bus = 0;
    setenv("DBUS_SESSION_BUS_ADDRESS", StartPrivateBus(&bus).c_str(), 1);
    const pid_t fcitx = spawn("/usr/bin/env", {"XDG_CONFIG_HOME=" + folder, "fcitx5", "--disable=wayland"});
    const auto on = [&] { return runCapture("fcitx5-remote 2>/dev/null") == "2\n"; };
    const std::vector<std::string> clients[] = {
        {"/usr/bin/env", "GTK_IM_MODULE=fcitx", "/usr/bin/python3", KQ_E2E_GTK_TARGET},
        {"/usr/bin/env", "QT_IM_MODULE=fcitx", KQ_E2E_QT_TARGET}};
    ASSERT_NO_FATAL_FAILURE(start({}, clients[0]));
    world.load({"hello world 123", "Hello, World! é ✓"});
    for (const auto& client : clients) {
        SCOPED_TRACE(client[1]);
        const KeyboardWorld::Target target = world.openTarget(client[1], client);
        world.focus(target.window);
        ASSERT_TRUE(world.pump(20000, [&] { return (void)!system("fcitx5-remote -o 2>/dev/null"), on(); }))
            << "Fcitx5 is not on";
        const auto text = [&] { return readFile(target.textPath); };
        world.tap(XK_Tab);
        world.tap(XK_Tab);
        EXPECT_TRUE(world.pump(10000, [&] { return text() == "hello world 123Hello, World! é ✓"; }))
            << text();
        // Given back a moment after the line, when the window has handed its keys on.
        ASSERT_TRUE(world.pump(5000, on));
        world.tap(XK_n), world.tap(XK_i), world.tap(XK_space);
        EXPECT_TRUE(world.pump(10000, [&] { return text() == "hello world 123Hello, World! é ✓你"; }))
            << text();
    }
    terminate(fcitx);
    terminate(bus);
    std::filesystem::remove_all(folder);
}

} // namespace
