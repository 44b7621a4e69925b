#include "windows/frmmain.h"

#include "app/instancelock.h"
#include "engine/hotkey.h"
#include "engine/messages.h"
#include "files/commandlist.h"
#include "tray/frmpopup.h"
#include "windows/dialogs.h"
#include "windows/frmmultimacro.h"
#include "windows/frmoptions.h"
#include "windows/twips.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QInputDialog>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QScreen>
#include <QSignalBlocker>

namespace kq {

frmMain::frmMain(Session& session) : m_session(session) {
    setWindowTitle(QStringLiteral("Keyquill"));
    setWindowIcon(ProgramIcon());
    buildControls();
    buildMenu();
    // The design gives the client area; the menu bar comes on top of it.
    resize(TwipsToPx(5655), TwipsToPx(3015) + menuBar()->sizeHint().height());
    m_multi = new frmMultiMacro(session, *this);
    m_options = new frmOptions(
        session, [this](int32_t colour, const char* target) { ApplyColour(colour, target); },
        [this] { sweep(true); }, [this] { sweep(false); });
    m_popup = std::make_unique<frmPopup>([this] { trayMinimize(); }, [this] { trayRestore(); },
                                         [this] { shutdown(); });
    // The desktop session asks applications to save before it ends: the settings are kept then
    // too, in case the end comes without a shutdown of ours.
    connect(qApp, &QGuiApplication::commitDataRequest, this, [this](QSessionManager&) {
        std::string error;
        m_options->saveSettings(&error);
    });
    session.attach(*this, *m_multi, *this, *this);
}

frmMain::~frmMain() {
    delete m_multi;
    delete m_options;
}

void frmMain::buildControls() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    chkEnabled = new QCheckBox(QStringLiteral("Enabled"), client);
    chkAuto = new QCheckBox(QStringLiteral("Auto Backspace"), client);
    lblBind = new QLabel(QStringLiteral("Bind on:"), client);
    cmbBind = new QComboBox(client);
    lstCommands = new QListWidget(client);
    for (QWidget* w :
         {static_cast<QWidget*>(chkEnabled), static_cast<QWidget*>(chkAuto), static_cast<QWidget*>(lblBind),
          static_cast<QWidget*>(cmbBind), static_cast<QWidget*>(lstCommands)})
        ApplyProgramFont(w);
    PlaceTwips(chkEnabled, 240, 120, 1095, 255);
    PlaceTwips(chkAuto, 1320, 120, 1455, 255);
    PlaceTwips(lblBind, 3720, 160, 735, 255);
    PlaceTwips(cmbBind, 4440, 120, 975, 315);
    PlaceTwips(lstCommands, 240, 480, 5175, 2400);
    for (const auto& entry : BindableKeys)
        cmbBind->addItem(QString::fromLatin1(entry.text.data(), static_cast<qsizetype>(entry.text.size())));
    chkAuto->setCheckState(Qt::Checked);
    cmbBind->installEventFilter(this);
    setTabOrder(chkEnabled, chkAuto);
    setTabOrder(chkAuto, lstCommands);
    setTabOrder(lstCommands, cmbBind);

    connect(chkEnabled, &QCheckBox::toggled, this, [this] { chkEnabled_Click(); });
    connect(cmbBind, &QComboBox::activated, this, [this] { cmbBind_Click(); });
    connect(lstCommands, &QListWidget::currentRowChanged, this, [this] { lstCommands_Click(); });
    connect(lstCommands, &QListWidget::itemDoubleClicked, this, [this] { lstCommands_DblClick(); });
}

void frmMain::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuLoad = file->addAction(QStringLiteral("Load"), this, [this] { mnuLoad_Click(); });
    mnuSave = file->addAction(QStringLiteral("Save"), this, [this] { mnuSave_Click(); });
    file->addSeparator();
    mnuOptions = file->addAction(QStringLiteral("Options"), this, [this] { showOptions(); });
    mnurestore = file->addAction(QStringLiteral("Restore Defaults"), this, [this] { mnurestore_Click(); });
    file->addSeparator();
    mnuMode = file->addMenu(QStringLiteral("Mode"));
    mnuCommandTool =
        mnuMode->addAction(QStringLiteral("Command Tool"), this, [this] { mnuCommandTool_Click(); });
    mnuSpeechTool =
        mnuMode->addAction(QStringLiteral("Speech Tool"), this, [this] { mnuSpeechTool_Click(); });
    mnuMode->addSeparator();
    mnuAddEnter = mnuMode->addAction(QStringLiteral("Add Enter"), this, [this] { mnuAddEnter_Click(); });
    for (QAction* a : {mnuCommandTool, mnuSpeechTool, mnuAddEnter})
        a->setCheckable(true);
    setCommandTool(true);
    file->addSeparator();
    mnuSwitch = file->addAction(QStringLiteral("Switch to Multiline"), this, [this] { mnuSwitch_Click(); });
    file->addSeparator();
    mnuExit = file->addAction(QStringLiteral("E&xit"), this, [this] { shutdown(); });
}

bool frmMain::Form_Load(InstanceLock& lock) {
    if (!m_session.start(lock)) return false;
    options().chkTransparent->setEnabled(true);
    m_popup->AddTrayIcon(ProgramIcon(), QStringLiteral("Keyquill by Wrenfield"));
    LoadSettings();
    return true;
}

int16_t frmMain::AutoBackspaceValue() const {
    return CheckValue(chkAuto);
}
bool frmMain::AddEnterChecked() const {
    return mnuAddEnter->isChecked();
}
int frmMain::LineCount() const {
    return lstCommands->count();
}
std::string frmMain::Line(int index) const {
    return lstCommands->item(index)->text().toStdString();
}

void frmMain::SelectLine(int16_t index) {
    lstCommands->setCurrentRow(index);
}

Answer frmMain::ShowMessage(std::string_view text, MessageKind kind, std::string_view title) {
    return ShowMessageBox(isVisible() ? this : nullptr, text, kind, title);
}

void frmMain::InitiateMacro(int16_t Dimention) {
    m_session.playback().InitiateMacro(Dimention);
}

frmMultiMacro& frmMain::multiMacro() {
    return *m_multi;
}
frmOptions& frmMain::options() {
    return *m_options;
}

void frmMain::showOptions() {
    m_options->show();
    m_options->raise();
    m_options->activateWindow();
}

void frmMain::unloadOptions() {
    std::string error;
    if (m_options->unload(&error)) return;
    // Shutdown goes on to its end; the user learns that the appearance was not kept.
    ShowMessage(SettingsSaveFailure(m_options->settingsPath(), error), MessageKind::Critical, kProgramTitle);
}

void frmMain::removeTrayIcon() {
    m_popup->RemoveTrayIcon();
}

QWidget* frmMain::modeWindow() {
    if (m_session.macro.MacroMode == ModeSingleList) return this;
    if (m_session.macro.MacroMode == ModeMultiSlot) return m_multi;
    return nullptr;
}

void frmMain::trayMinimize() {
    if (QWidget* w = modeWindow()) w->setWindowState(w->windowState() | Qt::WindowMinimized);
}

void frmMain::trayRestore() {
    if (QWidget* w = modeWindow()) {
        w->setWindowState(w->windowState() & ~Qt::WindowMinimized);
        w->show();
    }
}
QWidget* frmMain::multiSlotWindow() {
    return m_multi;
}

void frmMain::showMultiSlot() {
    m_multi->showWindow();
}

void frmMain::untickEnabled() {
    chkEnabled->setCheckState(Qt::Unchecked);
}

void frmMain::unloadMultiSlot() {
    m_multi->unload();
}

void frmMain::unloadMain() {
    if (m_unloaded) return;
    m_unloaded = true;
    hide();
}

void frmMain::chkEnabled_Click() {
    if (lstCommands->count() == 0) {
        // Setting the value raises this handler once more; that run finds the list still empty.
        chkEnabled->setCheckState(Qt::Unchecked);
        m_session.macro.MacroEnabled = false;
        return;
    }
    m_session.macro.MacroEnabled = CheckValue(chkEnabled) == 1;
}

void frmMain::cmbBind_Click() {
    if (const auto key = HotkeyFromText(cmbBind->currentText().toStdString())) m_session.macro.BindKey = *key;
}

void frmMain::lstCommands_Click() {
    m_session.macro.CommandIndex = static_cast<int16_t>(lstCommands->currentRow());
    try {
        InitiateMacro(static_cast<int16_t>(lstCommands->count() - 1));
    } catch (const PlaybackError&) {
        // Only an empty list fails here, and there is nothing to type from it.
    }
}

void frmMain::lstCommands_DblClick() {
    const int i = lstCommands->currentRow();
    if (i < 0) return;
    bool ok = false;
    const QString answer =
        QInputDialog::getText(this, QStringLiteral("Keyquill"), QStringLiteral("Editing a line"),
                              QLineEdit::Normal, lstCommands->item(i)->text(), &ok);
    if (!ok || answer.isEmpty() || i >= lstCommands->count() || answer == lstCommands->item(i)->text())
        return;
    lstCommands->item(i)->setText(answer);
    ++m_revision;
    try {
        InitiateMacro(static_cast<int16_t>(lstCommands->count() - 1));
    } catch (const PlaybackError&) {
    }
    lstCommands->setCurrentRow(i);
}

void frmMain::mnuAddEnter_Click() {
    // The action toggled its own mark before this runs: that is the toggle.
}

void frmMain::setCommandTool(bool commandTool) {
    mnuCommandTool->setChecked(commandTool);
    mnuSpeechTool->setChecked(!commandTool);
    mnuAddEnter->setEnabled(!commandTool);
    if (commandTool) mnuAddEnter->setChecked(false);
}

// Choosing either tool moves to the other state, whichever item carried the mark. Qt has
// already flipped the chosen item's own mark, so the state before the click is its opposite.
void frmMain::mnuCommandTool_Click() {
    setCommandTool(mnuCommandTool->isChecked());
}
void frmMain::mnuSpeechTool_Click() {
    setCommandTool(!mnuSpeechTool->isChecked());
}

void frmMain::mnuLoad_Click() {
    LoadCommandList(AskOpenFileName(this));
}

void frmMain::LoadCommandList(const QString& path) {
    if (path.isEmpty()) return;
    {
        const QSignalBlocker quiet(lstCommands); // clearing is not a selection by the user
        lstCommands->clear();
    }
    ++m_revision;
    const CommandListRead read = kq::ReadCommandList(path.toStdString());
    if (read.status == CommandListStatus::OpenFailed) return;
    for (const std::string& line : read.lines)
        lstCommands->addItem(QString::fromStdString(line));
    ++m_revision;
    if (read.status == CommandListStatus::BadFormat) {
        ShowMessage(kMsgBadFormat, MessageKind::Critical, kProgramTitle);
        return;
    }
    if (read.status == CommandListStatus::TooLong)
        ShowMessage("This list has more than 32767 lines. Only the first 32767 lines were loaded.",
                    MessageKind::Warning, kProgramTitle);
    m_session.macro.CommandIndex = 0;
    try {
        InitiateMacro(static_cast<int16_t>(lstCommands->count() - 1));
    } catch (const PlaybackError&) {
        // An empty file leaves an empty list: there is no line to select.
    }
}

void frmMain::mnuSave_Click() {
    if (lstCommands->count() == 0) return;
    QString path = AskSaveFileName(this);
    if (path.trimmed().isEmpty()) return;
    SaveCommandList(path);
}

void frmMain::SaveCommandList(QString& path) {
    std::vector<std::string> lines;
    for (int i = 0; i < lstCommands->count(); ++i)
        lines.push_back(lstCommands->item(i)->text().toStdString());
    std::string p = path.toStdString();
    WriteCommandList(lines, p); // a failed save is silent, as the user chose
    path = QString::fromStdString(p);
}

void frmMain::mnuSwitch_Click() {
    m_session.switchMode(ModeMultiSlot);
}

void frmMain::mnurestore_Click() {
    chkAuto->setCheckState(Qt::Checked);
    chkEnabled->setCheckState(Qt::Unchecked);
    m_session.macro.MacroEnabled = false;
    {
        const QSignalBlocker quiet(lstCommands);
        lstCommands->clear();
    }
    ++m_revision;
    m_session.macro.BindKey = Hotkey::Tab;
    cmbBind->setCurrentIndex(0);
    lstCommands->setFocus();
    setCommandTool(true);
}

void frmMain::Form_Resize() {
    QWidget* client = centralWidget();
    const int w = client->width(), h = client->height();
    cmbBind->move(w - cmbBind->width() - 15, cmbBind->y());
    lblBind->move(cmbBind->x() - 48, lblBind->y());
    lstCommands->resize(std::max(0, w - 30), std::max(0, h - 38));
}

void frmMain::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_unloaded) shutdown();
}

void frmMain::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    HideWhenMinimisedToTray(this, event);
}

void frmMain::resizeEvent(QResizeEvent* event) {
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

bool frmMain::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) lstCommands->setFocus();
    if (event->type() == QEvent::Show && !m_placed) {
        // Centred on the screen the first time it is shown.
        m_placed = true;
        if (const QScreen* s = QGuiApplication::primaryScreen())
            move(s->geometry().center() - QPoint(width() / 2, height() / 2));
    }
    return QMainWindow::event(event);
}

bool frmMain::eventFilter(QObject* watched, QEvent* event) {
    // The hotkey is chosen from the list only: typed characters and the wheel never reach it.
    if (watched == cmbBind) {
        if (event->type() == QEvent::KeyPress && !static_cast<QKeyEvent*>(event)->text().isEmpty() &&
            static_cast<QKeyEvent*>(event)->text().at(0).isPrint())
            return true;
        if (event->type() == QEvent::Wheel) return true;
    }
    return QMainWindow::eventFilter(watched, event);
}

} // namespace kq
