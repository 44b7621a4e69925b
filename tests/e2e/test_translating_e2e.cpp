// Windows that do not read keys the way Xlib does, with the real X11 keyboard typing into them:
// a nested X server that passes key codes on to its own keymap, and input methods.
#include "keyboard_test.h"

#include <X11/keysym.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// An input method with a Pinyin engine on, as a Chinese-speaking user has it (IBus, Fcitx5).
struct InputMethod {
    const char* name;
    const char* module; // what GTK_IM_MODULE and QT_IM_MODULE name it
    std::vector<pid_t> (*start)(const std::string& folder);
    const char* turnOn; // a command, for the focused window
    const char* state;  // a command that prints `on` while the engine converts
    const char* on;
};

std::vector<pid_t> StartIBus(const std::string&) {
    return {
        spawn("/usr/bin/env", {"GSETTINGS_BACKEND=memory", "ibus-daemon", "--panel=disable", "--replace"})};
}

// Fcitx5 answers on the session bus: a private one, which Keyquill uses too.
std::vector<pid_t> StartFcitx5(const std::string& folder) {
    std::filesystem::create_directories(folder + "/fcitx5");
    std::ofstream(folder + "/fcitx5/profile")
        << "[Groups/0]\nName=Default\nDefault Layout=us\nDefaultIM=pinyin\n"
           "[Groups/0/Items/0]\nName=keyboard-us\n[Groups/0/Items/1]\nName=pinyin\n"
           "[GroupOrder]\n0=Default\n";
    std::istringstream bus(runCapture("dbus-daemon --session --fork --print-address=1 --print-pid=1"));
    std::string address;
    pid_t daemon = 0;
    bus >> address >> daemon;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    return {spawn("/usr/bin/env", {"XDG_CONFIG_HOME=" + folder, "fcitx5", "--disable=wayland"}), daemon};
}

const InputMethod kInputMethods[] = {
    {"IBus", "ibus", StartIBus, "ibus engine libpinyin 2>/dev/null", "ibus engine", "libpinyin\n"},
    {"Fcitx5", "fcitx", StartFcitx5, "fcitx5-remote -o 2>/dev/null", "fcitx5-remote", "2\n"},
};

class InputMethodE2E : public TranslatingE2E, public testing::WithParamInterface<InputMethod> {};

// In a GTK 3 and a Qt 6 window the lines arrive as written, the engine converts again afterwards,
// and what the user types then is converted ("ni" and Space make 你).
TEST_P(InputMethodE2E, LinesArriveAsWrittenAndTheEngineIsBackAfterwards) {
    const InputMethod& im = GetParam();
    const std::string folder = "/tmp/kq-im-" + std::to_string(getpid());
    const std::vector<pid_t> daemons = im.start(folder);
    const auto on = [&] { return runCapture(std::string(im.state) + " 2>/dev/null") == im.on; };
    const std::string module = im.module;
    const std::vector<std::string> clients[] = {
        {"/usr/bin/env", "GTK_IM_MODULE=" + module, "/usr/bin/python3", KQ_E2E_GTK_TARGET},
        {"/usr/bin/env", "QT_IM_MODULE=" + module, KQ_E2E_QT_TARGET}};
    ASSERT_NO_FATAL_FAILURE(start({}, clients[0]));
    world.load({"hello world 123", "Hello, World! é ✓"});
    for (const auto& client : clients) {
        SCOPED_TRACE(client[1]);
        const KeyboardWorld::Target target = world.openTarget(client[1], client);
        world.focus(target.window);
        // Quirk: `ibus engine NAME` reports a failure even when it switched: the state says.
        ASSERT_TRUE(world.pump(20000, [&] { return (void)!system(im.turnOn), on(); }))
            << im.name << " is not on";
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
    for (pid_t pid : daemons)
        terminate(pid);
    std::filesystem::remove_all(folder);
}

INSTANTIATE_TEST_SUITE_P(PinyinOn, InputMethodE2E, testing::ValuesIn(kInputMethods),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
