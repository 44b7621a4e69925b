// Start-up: the second-instance question, the state a fresh start leaves, and Caps Lock.
#include "widget_support.h"

#include "engine/keytable.h"

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <gtest/gtest.h>

namespace kq::test {
namespace {

TEST(Startup, FreshStartInstallsTheFilterAndSetsTheMacroState) {
    Program p;
    p.keyboard.capsLocked = true;
    ASSERT_TRUE(p.started);
    EXPECT_TRUE(p.keyboard.installed());
    EXPECT_EQ(p.g.macro.MacroMode, ModeSingleList);
    EXPECT_EQ(p.g.macro.BindKey, 9u);
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_EQ(p.g.CurrentConfig, 1);
    EXPECT_EQ(p.main->cmbBind->currentText(), QStringLiteral("TAB"));
    EXPECT_EQ(p.main->chkAuto->checkState(), Qt::Checked);
    // Right after start TAB reaches the application.
    EXPECT_EQ(p.keyboard.inject(MsgKeyDown, VkTab), Verdict::PassOn);
}

TEST(Startup, CapsLockIsSwitchedOffOnlyWhenExactlyOn) {
    for (auto [locked, held, offs] :
         {std::tuple{true, false, 1}, std::tuple{true, true, 0}, std::tuple{false, false, 0}}) {
        Globals g;
        FakeKeyboard keyboard;
        keyboard.capsLocked = locked;
        keyboard.capsHeld = held;
        g.filter = &keyboard, g.capsLock = &keyboard, g.sender = &keyboard;
        InstanceLock lock(TempPath("caps.lock"));
        frmMain main(g);
        ASSERT_TRUE(main.Form_Load(lock));
        EXPECT_EQ(keyboard.capsSwitchOffs, offs) << locked << held;
    }
}

TEST(Startup, SecondCopyAsksAndNoEndsItBeforeAnythingIsInstalled) {
    InstanceLock first(TempPath("second.lock"));
    ASSERT_TRUE(first.acquire());
    for (const char* answer : {"No", "Yes"}) {
        Globals g;
        FakeKeyboard keyboard;
        g.filter = &keyboard, g.capsLock = &keyboard, g.sender = &keyboard;
        InstanceLock second(TempPath("second.lock"));
        frmMain main(g);
        QString text;
        AnswerMessageBox(QString::fromLatin1(answer), &text);
        const bool started = main.Form_Load(second);
        EXPECT_EQ(text, QStringLiteral("It is not recommended that you run this program more than once, "
                                       "would you like to continue"));
        EXPECT_EQ(started, std::string(answer) == "Yes");
        EXPECT_EQ(keyboard.installed(), started);
        EXPECT_EQ(g.macro.MacroMode, started ? ModeSingleList : 0);
    }
}

} // namespace
} // namespace kq::test
