// The single-list window: start-up, its controls, menus, list files and layout rule. The way out is
// tested with the settings it saves.
#include "widget_support.h"

#include "engine/hotkey.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

#include <array>
#include <filesystem>
#include <optional>

namespace kq::test {
namespace {

const std::string kThreeLines = "line1\r\nline2\r\nline3\r\n";

// The Mode submenu: Command Tool marked, Speech Tool marked, Add Enter enabled, Add Enter marked.
std::array<bool, 4> ModeMarks(Program& p) {
    return {p.main->mnuCommandTool->isChecked(), p.main->mnuSpeechTool->isChecked(),
            p.main->mnuAddEnter->isEnabled(), p.main->mnuAddEnter->isChecked()};
}

// Loads a file straight into the list and ticks "Enabled", the usual state before a press.
void LoadAndEnable(Program& p, const std::string& bytes) {
    WriteAll(TempPath("list.txt"), bytes);
    p.main->LoadCommandList(QString::fromStdString(TempPath("list.txt")));
    p.main->chkEnabled->click();
}

// What a fresh start shows, and Restore Defaults brings back.
void ExpectFreshWindow(Program& p) {
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_FALSE(p.session.macro.MacroEnabled);
    EXPECT_EQ(p.main->chkAuto->checkState(), Qt::Checked);
    EXPECT_EQ(p.main->lstCommands->count(), 0);
    EXPECT_EQ(p.main->cmbBind->currentText(), QStringLiteral("TAB"));
    EXPECT_EQ(p.session.macro.BindKey, Hotkey::Tab);
    EXPECT_EQ(ModeMarks(p), (std::array{true, false, false, false}));
}

// A fresh start with the Caps Lock lock on or off: it is switched off when it is on.
TEST(Startup, FreshStartInstallsTheFilterInSingleListModeAndSwitchesCapsLockOff) {
    for (bool locked : {true, false}) {
        SCOPED_TRACE(testing::Message() << "locked " << locked);
        Program p("caps.lock", [&](FakeKeyboard& k) { k.capsLocked = locked; });
        ASSERT_TRUE(p.started);
        EXPECT_EQ(p.keyboard.capsSwitchOffs, locked ? 1 : 0);
        EXPECT_TRUE(p.keyboard.installed());
        EXPECT_EQ(p.session.macro.MacroMode, ModeSingleList);
        EXPECT_EQ(p.session.CurrentConfig, 1);
        ExpectFreshWindow(p);
    }
}

TEST(Startup, SecondCopyAsksAndNoEndsItBeforeAnythingIsInstalled) {
    InstanceLock first(TempPath("second.lock"));
    ASSERT_TRUE(first.acquire());
    for (const char* answer : {"No", "Yes"}) {
        QString text;
        AnswerMessageBox(QString::fromLatin1(answer), &text);
        Program p("second.lock");
        EXPECT_EQ(text, QStringLiteral("It is not recommended that you run this program more than once, "
                                       "would you like to continue"));
        EXPECT_EQ(p.started, std::string(answer) == "Yes");
        EXPECT_EQ(p.keyboard.installed(), p.started);
        EXPECT_EQ(p.session.macro.MacroMode, p.started ? ModeSingleList : 0);
    }
}

TEST(FrmMain, EnabledSpringsBackOnAnEmptyList) {
    Program p;
    p.main->chkEnabled->click();
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_FALSE(p.session.macro.MacroEnabled);
    LoadAndEnable(p, kThreeLines);
    EXPECT_TRUE(p.session.macro.MacroEnabled);
    p.main->chkEnabled->click();
    EXPECT_FALSE(p.session.macro.MacroEnabled);
}

TEST(FrmMain, HotkeyIsChosenFromTheListOnlyNeverByTyping) {
    Program p;
    QComboBox* combo = p.main->cmbBind;
    combo->setCurrentIndex(12);
    emit combo->activated(12);
    EXPECT_EQ(p.session.macro.BindKey, Hotkey::F12);
    // Unfiltered, "T" would pick TAB and "F1" F1 by the combo's own keyboard search.
    QTest::keyClicks(combo, QStringLiteral("TF1"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("F12"));
    EXPECT_EQ(p.session.macro.BindKey, Hotkey::F12);
}

TEST(FrmMain, SelectingALineMakesItTheNextOneTyped) {
    Program p;
    LoadAndEnable(p, kThreeLines);
    for (int row : {2, 0, 1}) {
        p.main->lstCommands->setCurrentRow(row);
        EXPECT_EQ(Typed(p, Hotkey::Tab), "<DEL>line" + std::to_string(row + 1)) << row;
        EXPECT_EQ(p.main->lstCommands->currentRow(), (row + 1) % 3);
    }
}

TEST(FrmMain, DoubleClickEditsALineOnlyWithANonEmptyAnswer) {
    using Case = std::pair<std::optional<QString>, QString>; // answer (none: cancelled), line 2 after
    for (const auto& [answer, line2] :
         {Case{"", "line2"}, Case{std::nullopt, "line2"}, Case{"changed", "changed"}}) {
        Program p;
        LoadAndEnable(p, kThreeLines);
        p.main->lstCommands->setCurrentRow(1);
        QString prompt, shown;
        bool seen = false;
        AnswerNextDialog(
            [&](QWidget* w) {
                auto* box = qobject_cast<QInputDialog*>(w);
                if (!box) return w->close(), void();
                prompt = box->labelText(), shown = box->textValue();
                if (!answer) return box->reject();
                box->setTextValue(*answer);
                box->accept();
            },
            &seen);
        emit p.main->lstCommands->itemDoubleClicked(p.main->lstCommands->item(1));
        ASSERT_TRUE(seen);
        EXPECT_EQ(prompt, QStringLiteral("Editing a line"));
        EXPECT_EQ(shown, QStringLiteral("line2"));
        EXPECT_EQ(p.main->lstCommands->item(1)->text(), line2);
        EXPECT_EQ(Typed(p, Hotkey::Tab), "<DEL>" + line2.toStdString())
            << "the edit reaches the working copy";
    }
}

TEST(FrmMain, ModeMenuIsATwoStateSwitchAndLeavingSpeechDropsAddEnter) {
    Program p;
    using Step = std::pair<QAction*, std::array<bool, 4>>;
    const Step steps[] = {
        {p.main->mnuCommandTool, {false, true, true, false}}, // the marked item switches to the other tool
        {p.main->mnuAddEnter, {false, true, true, true}},
        {p.main->mnuSpeechTool, {true, false, false, false}},
        {p.main->mnuSpeechTool, {false, true, true, false}},
        {p.main->mnuAddEnter, {false, true, true, true}},
        {p.main->mnuCommandTool, {true, false, false, false}},
    };
    for (const auto& [chosen, marks] : steps) {
        chosen->trigger();
        EXPECT_EQ(ModeMarks(p), marks) << chosen->text().toStdString();
    }
    // Marked, Add Enter ends the line a press types with Enter.
    LoadAndEnable(p, kThreeLines);
    p.main->mnuSpeechTool->trigger();
    p.main->mnuAddEnter->trigger();
    EXPECT_EQ(Typed(p, Hotkey::Tab), "<DEL>line1\n");
}

// Save asks nothing for an empty list. A list file with a Backspace-EOT pair loads the lines
// before it and says so; saving writes the list's own text (not escaped), with ".txt" added.
TEST(FrmMain, ListFilesLoadUpToABackspaceEotAndSaveAsTxt) {
    Program p;
    bool asked = false;
    QTimer watch; // local, so it cannot outlive this test and answer someone else's dialog
    QObject::connect(&watch, &QTimer::timeout, [&] {
        if (QWidget* w = QApplication::activeModalWidget()) asked = true, w->close();
    });
    watch.start(10);
    p.main->mnuSave->trigger();
    watch.stop();
    EXPECT_FALSE(asked);

    WriteAll(TempPath("bseot.txt"), "a(1)\r\n\t\t\r\nth\x08\x04ree\r\nfour\r\n");
    QString message;
    AnswerFileDialog(TempPath("bseot.txt"), &message);
    p.main->mnuLoad->trigger();
    EXPECT_EQ(message, QStringLiteral("Error loading file, not valid format"));
    ASSERT_EQ(p.main->lstCommands->count(), 2);
    EXPECT_EQ(p.main->lstCommands->item(0)->text(), QStringLiteral("a(1)"));
    std::filesystem::remove(TempPath("saved.txt"));
    AnswerFileDialog(TempPath("saved"));
    p.main->mnuSave->trigger();
    EXPECT_EQ(ReadAll(TempPath("saved.txt")), "a(1)\r\n\r\n");
}

TEST(FrmMain, RestoreDefaultsPutsTheWindowBackToItsFreshState) {
    Program p;
    LoadAndEnable(p, kThreeLines);
    p.main->chkAuto->click();
    p.main->cmbBind->setCurrentIndex(5);
    emit p.main->cmbBind->activated(5);
    p.main->mnuSpeechTool->trigger();
    p.main->mnuAddEnter->trigger();
    p.session.slotStore.SlotCommand(4, 7) = "other window";
    p.main->mnurestore->trigger();
    ExpectFreshWindow(p);
    EXPECT_EQ(p.session.slotStore.SlotCommand(4, 7), "other window");
}

TEST(FrmMain, ResizingKeepsTheComboAtTheRightEdge) {
    Program p;
    p.main->show();
    p.main->resize(p.main->size() + QSize(180, 120));
    QCoreApplication::processEvents();
    const QWidget* client = p.main->centralWidget();
    const QRect combo = p.main->cmbBind->geometry();
    EXPECT_EQ(client->width() - combo.right() - 1, 15);
    EXPECT_EQ(p.main->lblBind->x(), combo.x() - 48);
    EXPECT_EQ(p.main->lstCommands->size(), client->size() - QSize(30, 38));
}

} // namespace
} // namespace kq::test
