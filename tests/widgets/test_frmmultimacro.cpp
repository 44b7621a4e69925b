// The multi-slot window: entering and leaving its mode, F1..F12, the configs and the slot set file.
#include "widget_support.h"

#include "engine/hook.h"
#include "engine/keytable.h"
#include "files/slotstore.h"

#include <QAction>
#include <QCheckBox>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <QWindow>
#include <gtest/gtest.h>

#include <filesystem>

namespace kq::test {
namespace {

uint32_t F(int n) {
    return VkF1 + static_cast<uint32_t>(n - 1);
}

void EnterMultiSlot(Program& p) {
    p.main->show();
    p.main->mnuSwitch->trigger();
    QCoreApplication::processEvents();
}

void SetRow(frmMultiMacro& m, int row, bool enabled, bool enter, const QString& text) {
    m.chkEnabled[row]->setChecked(enabled);
    m.chkAddEnter[row]->setChecked(enter);
    m.txtCommand[row]->setText(text);
}

// The config on screen as the window shows it: caption, the one bold button, the one menu mark.
void ExpectShown(Program& p, int config, int menuMark) {
    EXPECT_EQ(p.g.CurrentConfig, config);
    EXPECT_EQ(p.multi().windowTitle(), QStringLiteral("Keyquill - Config %1").arg(config));
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(p.multi().cmdConfig[n]->font().bold(), n == config) << "button " << n;
        EXPECT_EQ(p.multi().mnuConfig[n]->isChecked(), n == menuMark) << "menu " << n;
    }
}

// The message box is armed from inside the file dialog's answer so it cannot take that dialog for
// itself.
void AnswerFileThenMessage(const std::string& path, QString* message) {
    AnswerNextDialog([path = QString::fromStdString(path), message](QWidget* w) {
        AnswerMessageBox(QStringLiteral("OK"), message);
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return ADD_FAILURE() << "no file name box", w->close(), void();
        edit->setText(path);
        QTest::keyClick(edit, Qt::Key_Return);
    });
}

TEST(FrmMultiMacro, SwitchToMultilineHandsTheKeysToAFixedSizeSlotWindow) {
    Program p;
    WriteAll(TempPath("switch.txt"), "line1\r\n");
    p.main->LoadCommandList(QString::fromStdString(TempPath("switch.txt")));
    p.main->chkEnabled->click();
    EnterMultiSlot(p);
    EXPECT_EQ(p.g.macro.MacroMode, ModeMultiSlot);
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_FALSE(p.main->isVisible());
    EXPECT_TRUE(p.multi().isVisible());
    EXPECT_EQ(p.g.restrict.restricted(), &p.multi());
    EXPECT_EQ(p.multi().minimumSize(), p.multi().maximumSize());
    EXPECT_EQ(p.multi().size(), p.multi().minimumSize());
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);
}

TEST(FrmMultiMacro, FunctionKeysAreSwallowedAndTypeOnlyEnabledRows) {
    Program p;
    EnterMultiSlot(p);
    for (int n = 1; n <= 12; ++n)
        EXPECT_EQ(Press(p, F(n)), Verdict::Swallow) << "F" << n;
    EXPECT_EQ(TakeTyped(p), "");

    frmMultiMacro& m = p.multi();
    SetRow(m, 0, true, false, QStringLiteral("one"));
    SetRow(m, 2, true, true, QStringLiteral("three"));
    SetRow(m, 5, false, true, QStringLiteral("six"));
    SetRow(m, 7, true, true, QString());
    SetRow(m, 11, true, false, QStringLiteral("(a) 12"));
    // No Delete comes first: "Auto Backspace" belongs to the single list.
    for (auto [n, typed] : {std::pair{1, "one"}, std::pair{3, "three\n"}, std::pair{6, ""},
                            std::pair{8, "\n"}, std::pair{12, "(a) 12"}, std::pair{2, ""}}) {
        EXPECT_EQ(Press(p, F(n)), Verdict::Swallow);
        EXPECT_EQ(TakeTyped(p), typed) << "F" << n;
    }
    m.txtCommand[0]->setText(QStringLiteral("edited"));
    Press(p, F(1));
    EXPECT_EQ(TakeTyped(p), "edited");
    EXPECT_EQ(p.g.slotStore.SlotCommand(1, 1), "");
}

TEST(FrmMultiMacro, ButtonsSwitchConfigsAndOnlyTheMenuMovesItsMark) {
    Program p;
    EnterMultiSlot(p);
    frmMultiMacro& m = p.multi();
    SetRow(m, 0, true, false, QStringLiteral("alpha  "));
    Press(p, F(1));
    EXPECT_EQ(TakeTyped(p), "alpha  ");

    m.cmdConfig[7]->click();
    ExpectShown(p, 7, 1);
    EXPECT_EQ(m.txtCommand[0]->text(), QString());
    EXPECT_FALSE(m.chkEnabled[0]->isChecked());
    EXPECT_EQ(p.g.slotStore.SlotCommand(1, 1), "alpha  ");
    EXPECT_TRUE(p.g.slotStore.SlotEnabled(1, 1));
    Press(p, F(1));
    EXPECT_EQ(TakeTyped(p), "");

    m.mnuConfig[12]->trigger();
    ExpectShown(p, 12, 12);
    m.mnuConfig[1]->trigger();
    ExpectShown(p, 1, 1);
    // Shown again, the line has lost its trailing blanks; the store keeps them.
    EXPECT_EQ(m.txtCommand[0]->text(), QStringLiteral("alpha"));
    EXPECT_TRUE(m.chkEnabled[0]->isChecked());
    EXPECT_EQ(p.g.slotStore.SlotCommand(1, 1), "alpha  ");
    Press(p, F(1));
    EXPECT_EQ(TakeTyped(p), "alpha");
}

TEST(FrmMultiMacro, SaveWritesEverySlotAndLoadBringsThemBack) {
    Program p;
    EnterMultiSlot(p);
    frmMultiMacro& m = p.multi();
    m.cmdConfig[3]->click();
    SetRow(m, 1, true, false, QStringLiteral("x "));
    m.cmdConfig[1]->click();
    SetRow(m, 0, true, true, QStringLiteral("a,b")); // shown only: Save stores it first

    std::string expected; // record 25 is config 3, slot 2
    for (int slot = 0; slot < 144; ++slot)
        expected += slot == 0 ? "True\rTrue\ra\bb\r" : slot == 25 ? "True\rFalse\rx \r" : "False\rFalse\r\r";
    expected += "\r\n";
    const std::string path = TempPath("slots.txt");
    std::filesystem::remove(path);
    AnswerFileDialog(QString::fromStdString(path));
    m.mnuSave->trigger();
    EXPECT_EQ(ReadAll(path), expected);
    const SlotStore saved = p.g.slotStore;

    m.mnurestore->trigger();
    m.cmdConfig[3]->click();
    AnswerFileDialog(QString::fromStdString(path));
    m.mnuLoad->trigger();
    EXPECT_TRUE(p.g.slotStore == saved);
    ExpectShown(p, 3, 1);
    EXPECT_EQ(m.txtCommand[1]->text(), QStringLiteral("x"));
    EXPECT_TRUE(m.chkEnabled[1]->isChecked());
    EXPECT_FALSE(m.chkAddEnter[1]->isChecked());

    WriteAll(TempPath("bad-slots.txt"), "True\rmaybe\rhello\r");
    m.txtCommand[1]->setText(QStringLiteral("unsaved edit"));
    QString message;
    AnswerFileThenMessage(TempPath("bad-slots.txt"), &message);
    m.mnuLoad->trigger();
    EXPECT_EQ(message, QStringLiteral("Error loading file, not valid format"));
    EXPECT_EQ(m.txtCommand[1]->text(), QStringLiteral("unsaved edit"));
    EXPECT_TRUE(m.chkEnabled[1]->isChecked());
}

TEST(FrmMultiMacro, RestoreDefaultsEmptiesEveryConfigAndShowsConfigOne) {
    Program p;
    WriteAll(TempPath("untouched.txt"), "line1\r\nline2\r\n");
    p.main->LoadCommandList(QString::fromStdString(TempPath("untouched.txt")));
    EnterMultiSlot(p);
    frmMultiMacro& m = p.multi();
    m.mnuConfig[5]->trigger();
    SetRow(m, 4, true, true, QStringLiteral("five"));
    m.cmdConfig[2]->click();
    SetRow(m, 11, true, false, QStringLiteral("two"));

    m.mnurestore->trigger();
    EXPECT_TRUE(p.g.slotStore == SlotStore{});
    ExpectShown(p, 1, 1);
    for (int r = 0; r < 12; ++r) {
        EXPECT_FALSE(m.chkEnabled[r]->isChecked()) << r;
        EXPECT_FALSE(m.chkAddEnter[r]->isChecked()) << r;
        EXPECT_EQ(m.txtCommand[r]->text(), QString()) << r;
    }
    EXPECT_EQ(p.main->lstCommands->count(), 2);
}

TEST(FrmMultiMacro, SwitchingBackUnticksEnabledAndTheCycleKeepsTheRows) {
    Program p;
    WriteAll(TempPath("cycle.txt"), "line1\r\n");
    p.main->LoadCommandList(QString::fromStdString(TempPath("cycle.txt")));
    p.main->chkEnabled->click();
    EnterMultiSlot(p);
    frmMultiMacro& m = p.multi();
    m.cmdConfig[4]->click();
    SetRow(m, 2, true, true, QStringLiteral("kept  "));

    m.mnuSwitch->trigger();
    EXPECT_EQ(p.g.macro.MacroMode, ModeSingleList);
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_TRUE(p.main->isVisible());
    EXPECT_FALSE(m.isVisible());
    EXPECT_EQ(p.g.restrict.restricted(), p.main);
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);
    EXPECT_EQ(Press(p, F(3)), Verdict::PassOn);

    p.main->mnuSwitch->trigger();
    ExpectShown(p, 4, 1);
    EXPECT_EQ(m.txtCommand[2]->text(), QStringLiteral("kept  "));
    EXPECT_TRUE(m.chkAddEnter[2]->isChecked());
    Press(p, F(3));
    EXPECT_EQ(TakeTyped(p), "kept  \n");
}

TEST(FrmMultiMacro, MinimisingHidesWhileKeysWorkAndClosingEndsTheProgram) {
    Program p;
    EnterMultiSlot(p);
    SetRow(p.multi(), 0, true, false, QStringLiteral("still"));
    p.multi().windowHandle()->setWindowStates(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(p.multi().isVisible());
    Press(p, F(1));
    EXPECT_EQ(TakeTyped(p), "still");

    p.multi().showWindow();
    p.multi().close();
    EXPECT_FALSE(p.keyboard.installed());
    EXPECT_EQ(p.g.restrict.restricted(), nullptr);
    EXPECT_EQ(p.multi().maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_FALSE(p.main->isVisible());
}

} // namespace
} // namespace kq::test
