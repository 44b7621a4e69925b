// The single-list window: its controls, menus, list files, layout rule and the way out.
#include "widget_support.h"

#include "engine/hook.h"
#include "engine/keytable.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>
#include <QTimer>
#include <QWindow>
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
void LoadAndEnable(Program& p, const std::string& name, const std::string& bytes) {
    WriteAll(TempPath(name), bytes);
    p.main->LoadCommandList(QString::fromStdString(TempPath(name)));
    p.main->chkEnabled->click();
}

// File > Load through the dialog; a message box that follows is answered OK. It is armed from
// inside the file dialog's answer so it cannot mistake the file dialog for itself.
void LoadThroughMenu(Program& p, const std::string& path, QString* message = nullptr) {
    AnswerNextDialog([path = QString::fromStdString(path), message](QWidget* w) {
        if (message) AnswerMessageBox(QStringLiteral("OK"), message);
        auto* edit = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        if (!edit) return ADD_FAILURE() << "no file name box", w->close(), void();
        edit->setText(path);
        QTest::keyClick(edit, Qt::Key_Return);
    });
    p.main->mnuLoad->trigger();
}

TEST(FrmMain, EnabledSpringsBackOnAnEmptyListAndGatesTheHotkey) {
    Program p;
    p.main->chkEnabled->click();
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);

    LoadAndEnable(p, "enabled.txt", kThreeLines);
    EXPECT_TRUE(p.g.macro.MacroEnabled);
    EXPECT_EQ(Press(p, VkTab), Verdict::Swallow);
    EXPECT_EQ(TakeTyped(p), "<DEL>line1");
    p.main->chkEnabled->click();
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);
}

TEST(FrmMain, HotkeyIsChosenFromTheListOnlyNeverByTyping) {
    Program p;
    QComboBox* combo = p.main->cmbBind;
    combo->setCurrentIndex(12);
    emit combo->activated(12);
    EXPECT_EQ(p.g.macro.BindKey, 123u);
    // Unfiltered, "T" would pick TAB and "F1" F1 by the combo's own keyboard search.
    QTest::keyClicks(combo, QStringLiteral("TF1"));
    EXPECT_EQ(combo->currentText(), QStringLiteral("F12"));
    EXPECT_EQ(p.g.macro.BindKey, 123u);

    LoadAndEnable(p, "bind.txt", kThreeLines);
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);
    EXPECT_EQ(Press(p, VkF12), Verdict::Swallow);
    EXPECT_EQ(TakeTyped(p), "<DEL>line1");
}

TEST(FrmMain, SelectingALineMakesItTheNextOneTyped) {
    Program p;
    LoadAndEnable(p, "select.txt", kThreeLines);
    for (int row : {2, 0, 1}) {
        p.main->lstCommands->setCurrentRow(row);
        Press(p, VkTab);
        EXPECT_EQ(TakeTyped(p), "<DEL>line" + std::to_string(row + 1)) << row;
        EXPECT_EQ(p.main->lstCommands->currentRow(), (row + 1) % 3);
    }
}

TEST(FrmMain, DoubleClickEditsALineOnlyWithANewNonEmptyAnswer) {
    using Case = std::pair<std::optional<QString>, QString>; // answer (none: cancelled), line 2 after
    for (const auto& [answer, line2] : {Case{"line2", "line2"}, Case{"", "line2"},
                                        Case{std::nullopt, "line2"}, Case{"changed", "changed"}}) {
        Program p;
        LoadAndEnable(p, "edit.txt", kThreeLines);
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
        EXPECT_EQ(p.main->lstCommands->currentRow(), 1);
        Press(p, VkTab);
        EXPECT_EQ(TakeTyped(p), "<DEL>" + line2.toStdString());
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
}

TEST(FrmMain, LoadedLinesAreTypedInTurnAndALoadStopsAtBackspaceEot) {
    Program p;
    WriteAll(TempPath("three.txt"), "line1\r\nline2\r\n   \r\nline3");
    LoadThroughMenu(p, TempPath("three.txt"));
    ASSERT_EQ(p.main->lstCommands->count(), 3);
    EXPECT_EQ(p.main->lstCommands->currentRow(), 0);
    p.main->chkEnabled->click();
    for (int i = 0; i < 4; ++i)
        Press(p, VkTab);
    EXPECT_EQ(TakeTyped(p), "<DEL>line1<DEL>line2<DEL>line3<DEL>line1");

    p.main->mnuSpeechTool->trigger();
    p.main->mnuAddEnter->trigger();
    for (int i = 0; i < 3; ++i)
        Press(p, VkTab);
    EXPECT_EQ(TakeTyped(p), "<DEL>line2\n<DEL>line3\n<DEL>line1\n");

    WriteAll(TempPath("bseot.txt"), "one\r\ntwo\r\nth\x08\x04ree\r\nfour\r\n");
    QString message;
    LoadThroughMenu(p, TempPath("bseot.txt"), &message);
    EXPECT_EQ(message, QStringLiteral("Error loading file, not valid format"));
    ASSERT_EQ(p.main->lstCommands->count(), 2);
    EXPECT_EQ(p.main->lstCommands->item(1)->text(), QStringLiteral("two"));
}

TEST(FrmMain, SaveAsksNothingForAnEmptyListAndOtherwiseWritesTxtWithCrLf) {
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

    WriteAll(TempPath("items.txt"), "a(1)\r\n\t\t\r\nb");
    p.main->LoadCommandList(QString::fromStdString(TempPath("items.txt")));
    for (auto [typed, written] : {std::pair{"plain", "plain.txt"}, std::pair{"upper.TXT", "upper.TXT.txt"},
                                  std::pair{"kept.txt", "kept.txt"}}) {
        std::filesystem::remove(TempPath(written));
        AnswerFileDialog(QString::fromStdString(TempPath(typed)));
        p.main->mnuSave->trigger();
        EXPECT_EQ(ReadAll(TempPath(written)), "a(1)\r\n\r\nb\r\n") << typed;
    }
    EXPECT_FALSE(std::filesystem::exists(TempPath("plain")));
}

TEST(FrmMain, RestoreDefaultsPutsTheWindowBackToItsFreshState) {
    Program p;
    LoadAndEnable(p, "restore.txt", kThreeLines);
    p.main->chkAuto->click();
    p.main->cmbBind->setCurrentIndex(5);
    emit p.main->cmbBind->activated(5);
    p.main->mnuSpeechTool->trigger();
    p.main->mnuAddEnter->trigger();
    p.g.slotStore.SlotCommand(4, 7) = "other window";

    p.main->mnurestore->trigger();
    EXPECT_EQ(p.main->chkEnabled->checkState(), Qt::Unchecked);
    EXPECT_EQ(p.main->chkAuto->checkState(), Qt::Checked);
    EXPECT_FALSE(p.g.macro.MacroEnabled);
    EXPECT_EQ(p.main->lstCommands->count(), 0);
    EXPECT_EQ(p.main->cmbBind->currentText(), QStringLiteral("TAB"));
    EXPECT_EQ(p.g.macro.BindKey, VkTab);
    EXPECT_EQ(ModeMarks(p), (std::array{true, false, false, false}));
    EXPECT_EQ(p.g.slotStore.SlotCommand(4, 7), "other window");
    EXPECT_EQ(Press(p, VkTab), Verdict::PassOn);
}

TEST(FrmMain, UntypableLineIsReportedAndSkipped) {
    Program p;
    LoadAndEnable(p, "illegal.txt", "a{b\r\nnext\r\n");
    QString message;
    AnswerMessageBox(QStringLiteral("OK"), &message);
    EXPECT_EQ(Press(p, VkTab), Verdict::Swallow);
    EXPECT_EQ(message, QStringLiteral("This is usually due to illegal characters within the config"));
    Press(p, VkTab);
    // The Delete sent before the failing line stays typed.
    EXPECT_EQ(TakeTyped(p), "<DEL><DEL>next");
}

TEST(FrmMain, ResizingKeepsTheComboAtTheRightEdgeAndMinimisingHides) {
    Program p;
    p.main->show();
    QCoreApplication::processEvents();
    const QSize listBefore = p.main->lstCommands->size();
    p.main->resize(p.main->size() + QSize(180, 120));
    QCoreApplication::processEvents();
    const QWidget* client = p.main->centralWidget();
    const QRect combo = p.main->cmbBind->geometry();
    EXPECT_EQ(client->width() - combo.right() - 1, 15);
    EXPECT_EQ(p.main->lblBind->x(), combo.x() - 48);
    EXPECT_EQ(p.main->lstCommands->size(), client->size() - QSize(30, 38));
    EXPECT_EQ(p.main->lstCommands->size(), listBefore + QSize(180, 120));

    // As the window manager minimises it: through the platform window, not showMinimized().
    p.main->windowHandle()->setWindowStates(Qt::WindowMinimized);
    QCoreApplication::processEvents();
    EXPECT_FALSE(p.main->isVisible());
}

TEST(FrmMain, ExitRemovesTheFilterAndCanRunTwice) {
    Program p;
    p.main->show();
    p.main->mnuExit->trigger();
    EXPECT_TRUE(p.g.ShuttingDown);
    EXPECT_FALSE(p.keyboard.installed());
    EXPECT_EQ(p.g.restrict.restricted(), nullptr);
    EXPECT_FALSE(p.main->isVisible());
    p.main->shutdown();
    EXPECT_FALSE(p.keyboard.installed());
}

} // namespace
} // namespace kq::test
