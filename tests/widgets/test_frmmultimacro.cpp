// The multi-slot window: entering and leaving its mode, the configs and the slot set file.
#include "widget_support.h"

#include "engine/hotkey.h"
#include "files/slotstore.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSystemTrayIcon>
#include <QWindow>
#include <gtest/gtest.h>

namespace kq::test {
namespace {

Hotkey F(int n) {
    return FunctionKey(n - 1);
}

// Starts with a one-line list, ticked when `enabled`, then switches to the multi-slot window.
frmMultiMacro& EnterMultiSlot(Program& p, bool enabled = false) {
    WriteAll(TempPath("single.txt"), "line1\r\n");
    p.main->LoadCommandList(QString::fromStdString(TempPath("single.txt")));
    if (enabled) p.main->chkEnabled->click();
    p.main->show();
    p.main->mnuSwitch->trigger();
    QCoreApplication::processEvents();
    return p.multi();
}

void SetRow(frmMultiMacro& m, int row, bool enabled, bool enter, const QString& text) {
    m.chkEnabled[row]->setChecked(enabled);
    m.chkAddEnter[row]->setChecked(enter);
    m.txtCommand[row]->setText(text);
}

// The config on screen as the window shows it: caption, the one bold button, the one menu mark.
void ExpectShown(Program& p, int config, int menuMark) {
    EXPECT_EQ(p.session.CurrentConfig, config);
    EXPECT_EQ(p.multi().windowTitle(), QStringLiteral("Keyquill - Config %1").arg(config));
    for (int n = 1; n <= 12; ++n) {
        EXPECT_EQ(p.multi().cmdConfig[n]->font().bold(), n == config) << "button " << n;
        EXPECT_EQ(p.multi().mnuConfig[n]->isChecked(), n == menuMark) << "menu " << n;
    }
}

// Each switch unticks "Enabled" and hands the keys to the window it shows; the slot window has a
// fixed size, and a round trip keeps its rows.
TEST(FrmMultiMacro, SwitchingModesHandsTheKeysOverAndKeepsTheRows) {
    Program p;
    frmMultiMacro& m = EnterMultiSlot(p, true);
    EXPECT_EQ(p.session.macro.MacroMode, ModeMultiSlot);
    EXPECT_FALSE(p.session.macro.MacroEnabled);
    EXPECT_FALSE(p.main->isVisible());
    EXPECT_TRUE(m.isVisible());
    EXPECT_EQ(p.session.restrict.restricted(), &m);
    EXPECT_EQ(m.minimumSize(), m.maximumSize());
    EXPECT_EQ(m.size(), m.minimumSize());
    m.cmdConfig[4]->click();
    SetRow(m, 2, true, true, QStringLiteral("kept  "));

    m.mnuSwitch->trigger();
    EXPECT_EQ(p.session.macro.MacroMode, ModeSingleList);
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_FALSE(p.session.macro.MacroEnabled);
    EXPECT_TRUE(p.main->isVisible());
    EXPECT_FALSE(m.isVisible());
    EXPECT_EQ(p.session.restrict.restricted(), p.main);

    p.main->mnuSwitch->trigger();
    ExpectShown(p, 4, 1);
    EXPECT_EQ(m.txtCommand[2]->text(), QStringLiteral("kept  "));
    EXPECT_EQ(Typed(p, F(3)), "kept  \n");
}

TEST(FrmMultiMacro, ButtonsSwitchConfigsAndOnlyTheMenuMovesItsMark) {
    Program p;
    frmMultiMacro& m = EnterMultiSlot(p);
    SetRow(m, 0, true, false, QStringLiteral("alpha  "));
    SetRow(m, 1, false, true, QStringLiteral("off"));
    EXPECT_EQ(Typed(p, F(1)), "alpha  ");
    EXPECT_EQ(Typed(p, F(2)), "");

    m.cmdConfig[7]->click();
    ExpectShown(p, 7, 1);
    EXPECT_EQ(m.txtCommand[0]->text(), QString());
    EXPECT_FALSE(m.chkEnabled[0]->isChecked());
    EXPECT_EQ(Typed(p, F(1)), "");

    m.mnuConfig[12]->trigger();
    ExpectShown(p, 12, 12);
    m.mnuConfig[1]->trigger();
    ExpectShown(p, 1, 1);
    // Shown again, the line has lost its trailing blanks; the store keeps them.
    EXPECT_EQ(m.txtCommand[0]->text(), QStringLiteral("alpha"));
    EXPECT_TRUE(m.chkEnabled[0]->isChecked());
    EXPECT_EQ(p.session.slotStore.SlotCommand(1, 1), "alpha  ");
    EXPECT_EQ(Typed(p, F(1)), "alpha");
}

// A slot set that fails to load is reported and leaves the rows as shown. Restore Defaults then
// empties every config, shows config 1 and leaves the single list alone.
TEST(FrmMultiMacro, ABadSlotSetChangesNoRowAndRestoreDefaultsEmptiesEveryConfig) {
    Program p;
    frmMultiMacro& m = EnterMultiSlot(p);
    SetRow(m, 1, true, false, QStringLiteral("unsaved edit"));
    WriteAll(TempPath("bad-slots.txt"), "True\rmaybe\rhello\r");
    QString message;
    AnswerFileDialog(TempPath("bad-slots.txt"), &message);
    m.mnuLoad->trigger();
    EXPECT_EQ(message, QStringLiteral("Error loading file, not valid format"));
    EXPECT_EQ(m.txtCommand[1]->text(), QStringLiteral("unsaved edit"));
    EXPECT_TRUE(m.chkEnabled[1]->isChecked());

    m.mnuConfig[5]->trigger();
    SetRow(m, 4, true, true, QStringLiteral("five"));
    m.cmdConfig[2]->click();
    SetRow(m, 11, true, false, QStringLiteral("two"));
    m.mnurestore->trigger();
    EXPECT_TRUE(p.session.slotStore == SlotStore{});
    ExpectShown(p, 1, 1);
    for (int r = 0; r < 12; ++r)
        EXPECT_TRUE(!m.chkEnabled[r]->isChecked() && !m.chkAddEnter[r]->isChecked() &&
                    m.txtCommand[r]->text().isEmpty())
            << r;
    EXPECT_EQ(p.main->lstCommands->count(), 1) << "the single list is not touched";
}

TEST(FrmMultiMacro, MinimisingHidesWhileKeysWorkAndClosingEndsTheProgram) {
    Program p;
    frmMultiMacro& m = EnterMultiSlot(p);
    SetRow(m, 0, true, false, QStringLiteral("still"));
    m.windowHandle()->setWindowStates(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_EQ(m.isVisible(), !QSystemTrayIcon::isSystemTrayAvailable());
    EXPECT_EQ(Typed(p, F(1)), "still");

    m.showWindow();
    m.close();
    EXPECT_FALSE(p.keyboard.installed());
    EXPECT_EQ(p.session.restrict.restricted(), nullptr);
    EXPECT_EQ(m.maximumSize(), QSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX));
    EXPECT_FALSE(p.main->isVisible());
}

} // namespace
} // namespace kq::test
