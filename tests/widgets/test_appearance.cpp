// Translucency, the colour theme, the options window and the settings it saves.
#include "widget_support.h"

#include "appearance/modtrans.h"
#include "files/settingsfile.h"
#include "files/textcodec.h"
#include "windows/dialogs.h"
#include "windows/frmoptions.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QWidget>
#include <gtest/gtest.h>

#include <filesystem>
#include <tuple>

namespace kq::test {
namespace {

QColor bg(QWidget* w) {
    return w->palette().color(w->backgroundRole());
}
QColor fg(QWidget* w) {
    return w->palette().color(QPalette::WindowText);
}

std::string settingsFile() {
    return (QCoreApplication::applicationDirPath() + "/config.ini").toStdString();
}

// Removes the settings file the program under test reads and writes beside the executable.
struct SettingsFileGuard {
    explicit SettingsFileGuard(const std::string& content = {}) {
        std::filesystem::remove(settingsFile());
        if (!content.empty()) WriteAll(settingsFile(), content);
    }
    ~SettingsFileGuard() { std::filesystem::remove(settingsFile()); }
};

// All three windows, shown or hidden, carry this alpha (0: none, not translucent).
void ExpectAlpha(Program& p, int alpha) {
    for (QWidget* w : p.windows()) {
        EXPECT_EQ(IsLayered(w), alpha != 0) << w->windowTitle().toStdString();
        EXPECT_NEAR(w->windowOpacity(), alpha ? alpha / 255.0 : 1.0, 0.01) << w->windowTitle().toStdString();
    }
}

TEST(Translucency, ResultsAndWhatTheyChange) {
    QWidget w;
    // The alpha asked for, then the result and whether and how much the window is translucent.
    const std::tuple<int, int, bool, double> cases[] = {{-1, 1, false, 1.0},
                                                        {256, 1, false, 1.0},
                                                        {0, 0, true, 0.0},
                                                        {128, 0, true, 128 / 255.0},
                                                        {255, 0, true, 1.0}};
    EXPECT_EQ(MakeTransparent(nullptr, 128), 2);
    EXPECT_EQ(MakeOpaque(nullptr), 2);
    for (const auto& [alpha, result, layered, opacity] : cases) {
        MakeOpaque(&w);
        EXPECT_EQ(MakeTransparent(&w, static_cast<int16_t>(alpha)), result) << alpha;
        EXPECT_EQ(IsLayered(&w), layered) << alpha;
        EXPECT_NEAR(w.windowOpacity(), opacity, 0.01) << alpha;
    }
    EXPECT_EQ(MakeOpaque(&w), 0);
    EXPECT_FALSE(IsLayered(&w));
}

TEST(Translucency, SwitchAndLevelSweepAllThreeWindowsHiddenOnesToo) {
    SettingsFileGuard none;
    Program p;
    frmOptions& o = p.main->options();
    ASSERT_TRUE(o.chkTransparent->isEnabled());
    SetCheckValue(o.chkTransparent, 1);
    EXPECT_EQ(p.session.appearance.TransparencyOn, 1);
    ExpectAlpha(p, 215);
    o.HTrans->setValue(100);
    EXPECT_EQ(o.lblTrans->text(), QStringLiteral("100"));
    ExpectAlpha(p, 100);
    SetCheckValue(o.chkTransparent, 0);
    EXPECT_EQ(p.session.appearance.TransparencyOn, 0);
    ExpectAlpha(p, 0);
    // Unchecked, the bar keeps the level and its label but changes no window.
    o.HTrans->setValue(60);
    EXPECT_EQ(p.session.appearance.TransparencyLevel, 60);
    EXPECT_EQ(o.lblTrans->text(), QStringLiteral("60"));
    ExpectAlpha(p, 0);
}

// The bars paint their target on every listed control and only their own label; the options
// window keeps them when closed and shown again.
TEST(ColourTheme, BarsPaintTheirTargetAndClosingTheOptionsSavesThem) {
    SettingsFileGuard none;
    Program p;
    frmOptions& o = p.main->options();
    // From the default colours (0xC87800 and 0xFFFFFF), each bar changes its own byte only.
    o.HColour[0]->setValue(10);
    const QColor newBg(10, 120, 200);
    EXPECT_EQ(p.session.appearance.BackgroundColour, 0xC8780A);
    for (QWidget* w : p.main->themeWidgets("bg"))
        EXPECT_EQ(bg(w), newBg) << w->metaObject()->className();
    EXPECT_EQ(o.lblValue[0]->text(), QStringLiteral("10"));
    EXPECT_EQ(o.lblValue[1]->text(), QStringLiteral("120"));
    // Outside the theme: the list, the slot text boxes and the labels' own backgrounds.
    EXPECT_NE(bg(p.multi().txtCommand[0]), newBg);
    EXPECT_NE(bg(o.lblValue[0]), newBg);

    o.HTColour[1]->setValue(7);
    EXPECT_EQ(o.lblValue[4]->text(), QStringLiteral("7"));
    EXPECT_EQ(p.session.appearance.TextColour, 0xFF07FF);
    for (QWidget* w : p.main->themeWidgets("text"))
        EXPECT_EQ(fg(w), QColor(255, 7, 255));
    EXPECT_EQ(fg(p.multi().frmMacro[11]), QColor(255, 7, 255));

    for (const char* other : {"BG", "Text", ""}) {
        p.main->ApplyColour(0x123456, other);
        EXPECT_EQ(p.session.appearance.BackgroundColour, 0xC8780A) << other;
        EXPECT_EQ(p.session.appearance.TextColour, 0xFF07FF) << other;
    }

    // Closing hides the window and saves the settings at once, so a change survives a session that
    // ends without asking (the X server going away).
    p.main->showOptions();
    o.HColour[2]->setValue(50);
    o.close();
    EXPECT_FALSE(o.isVisible());
    EXPECT_EQ(ColourToRgb(p.session.appearance.BackgroundColour).Blue, 50);
    EXPECT_EQ(ReadFileBytes(settingsFile()), "3307530 16713727 0 215\r\n"); // 0x32780A, 0xFF07FF
    p.multi().mnuOptions->trigger();
    EXPECT_TRUE(o.isVisible());
    EXPECT_EQ(o.HColour[2]->value(), 50);
    EXPECT_EQ(o.lblValue[2]->text(), QStringLiteral("50"));
}

// Exit removes the filter, hides the window and writes the settings; entered again (the end can
// come from several places at once), it writes nothing twice.
TEST(Settings, SavedValuesApplyAtStartAndExitWritesThemOnce) {
    SettingsFileGuard file("255 0 1 128\r\n");
    Program p;
    frmOptions& o = p.main->options();
    EXPECT_EQ(CheckValue(o.chkTransparent), 1);
    EXPECT_EQ(o.HTrans->value(), 128);
    EXPECT_EQ(o.HColour[0]->value(), 255);
    EXPECT_EQ(o.HColour[2]->value(), 0);
    o.HTrans->setValue(90);
    p.main->show();
    p.main->mnuExit->trigger();
    EXPECT_TRUE(p.session.ShuttingDown);
    EXPECT_FALSE(p.keyboard.installed());
    EXPECT_EQ(p.session.restrict.restricted(), nullptr);
    EXPECT_FALSE(p.main->isVisible());
    EXPECT_EQ(ReadAll(settingsFile()), "255 0 1 90\r\n");
    WriteAll(settingsFile(), "changed\r\n");
    p.main->shutdown();
    EXPECT_EQ(ReadAll(settingsFile()), "changed\r\n");
    EXPECT_FALSE(p.keyboard.installed());
}

} // namespace
} // namespace kq::test
