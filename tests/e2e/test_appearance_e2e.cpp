// Appearance end to end: the settings file beside the program makes every window translucent
// and coloured at start, and leaving through the tray menu writes it back.
#include "desktop.h"

#include <filesystem>
#include <fstream>

using namespace kq::e2e;
namespace fs = std::filesystem;

namespace {

const bool g_xvfb = RegisterSharedXvfb();

// keyquill keeps config.ini in its own folder: each test runs a copy.
class AppearanceE2E : public KeyquillTest {
protected:
    void start() {
        fs::copy_file(KQ_KEYQUILL, dir / "keyquill");
        startKeyquill(path("keyquill"));
        Desktop::settle(300);
    }
    std::string settings() const { return readFile(path("config.ini")); }
};

TEST_F(AppearanceE2E, SavedSettingsMakeAllWindowsTranslucentAndRed) {
    std::ofstream(dir / "config.ini", std::ios::binary) << "255 0 1 128\r\n";
    start();
    for (const char* title : {"Keyquill", "Keyquill - Config 1", "Keyquill Options"}) {
        const Window w = desk.findWindow(title, 5000, false);
        ASSERT_NE(w, 0u) << title;
        EXPECT_EQ(desk.opacity(w), 128) << title;
    }
    const int menuBar = desk.geometry(mainWindow).h - 201;
    EXPECT_EQ(desk.pixel(mainWindow, 6, menuBar + 100), 0xFF0000ul) << "the background is red";
}

TEST_F(AppearanceE2E, SliderMovedThenTrayExitWritesTheSettings) {
    start();
    // The tray host starts after keyquill: the icon must still dock.
    helpers.push_back(spawn("trayer", {"--edge", "top", "--align", "right", "--widthtype", "request",
                                       "--height", "24", "--SetDockType", "true"}));
    const Window panel = desk.findWindow("panel");
    ASSERT_NE(panel, 0u);
    desk.focus(mainWindow);
    desk.keys({"alt+f", "Down", "Down", "Return"}); // Options
    const Window options = desk.findWindow("Keyquill Options");
    ASSERT_NE(options, 0u);
    desk.focus(options);
    // The right arrow of the background's red bar: one step up. The bar sits in "Background"
    // (8, 24) inside "Colouring" (8, 72), at (48, 24), 225 pixels wide.
    const Rect o = desk.geometry(options);
    desk.click(o.x + 8 + 8 + 48 + 225 - 6, o.y + 72 + 24 + 24 + 8);
    Desktop::settle(300);
    const Rect p = desk.geometry(panel);
    desk.click(p.x + p.w / 2, p.y + p.h / 2, 3);
    desk.keys({"Down", "Down", "Down", "Return"}); // Minimize, Restore, Exit
    ASSERT_TRUE(exited(5000)) << "Exit in the tray menu ends the program";
    EXPECT_EQ(settings(), "13137921 16777215 0 215\r\n");
}

TEST_F(AppearanceE2E, UnwritableSettingsAreReportedAndTheProgramStillEnds) {
    fs::create_directories(dir / "config.ini"); // a folder where the file should be: no write, even as root
    start();
    desk.focus(mainWindow);
    desk.keys({"alt+f", "Down", "Down", "Down", "Down", "Down", "Down", "Return"}); // Exit
    const Window box = desk.findWindow("Keyquill", 5000);
    ASSERT_NE(box, 0u) << "a message names the file";
    desk.focus(box);
    desk.key("Return");
    EXPECT_TRUE(exited(5000));
}

} // namespace
