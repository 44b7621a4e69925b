#include "windows/frmmultimacro.h"

#include "tray/frmpopup.h"

#include "engine/messages.h"
#include "files/slotsetfile.h"
#include "windows/dialogs.h"
#include "windows/frmmain.h"
#include "windows/twips.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QGroupBox>
#include <QGuiApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QScreen>

namespace kq {

frmMultiMacro::frmMultiMacro(Session& session, frmMain& main) : m_session(session), m_main(main) {
    setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Keyquill - Config 1"));
    setWindowIcon(ProgramIcon());
    buildRows();
    buildMenu();
    resize(TwipsToPx(9495), TwipsToPx(7695) + menuBar()->sizeHint().height());
}

void frmMultiMacro::buildRows() {
    auto* client = new QWidget(this);
    setCentralWidget(client);
    QWidget* previous = nullptr;
    auto chain = [&](QWidget* w) {
        if (previous) setTabOrder(previous, w);
        previous = w;
    };
    for (int n = 1; n <= 12; ++n) {
        cmdConfig[n] = new QPushButton(QString::number(n), client);
        ApplyProgramFont(cmdConfig[n], n == 1);
        PlaceTwips(cmdConfig[n], 1080 + 600 * (n - 1), 90, 615, 255);
        connect(cmdConfig[n], &QPushButton::clicked, this,
                [this, n] { cmdConfig_Click(static_cast<int16_t>(n)); });
        chain(cmdConfig[n]);
    }
    for (int r = 0; r < 12; ++r) {
        frmMacro[r] = new QGroupBox(QStringLiteral("F%1").arg(r + 1), client);
        ApplyProgramFont(frmMacro[r], true);
        PlaceTwips(frmMacro[r], 240, 360 + 600 * r, 9015, 615);
        chkEnabled[r] = new QCheckBox(QStringLiteral("enable"), frmMacro[r]);
        txtCommand[r] = new QLineEdit(frmMacro[r]);
        chkAddEnter[r] = new QCheckBox(QStringLiteral("Include ENTER"), frmMacro[r]);
        for (QWidget* w : {static_cast<QWidget*>(chkEnabled[r]), static_cast<QWidget*>(txtCommand[r]),
                           static_cast<QWidget*>(chkAddEnter[r])}) {
            ApplyProgramFont(w);
            chain(w);
        }
        PlaceTwips(chkEnabled[r], 120, 240, 855, 255);
        PlaceTwips(txtCommand[r], 960, 240, 6375, 285);
        PlaceTwips(chkAddEnter[r], 7440, 240, 1455, 255);
    }
}

void frmMultiMacro::buildMenu() {
    QMenu* file = menuBar()->addMenu(QStringLiteral("&File"));
    mnuLoad = file->addAction(QStringLiteral("Load"), this, [this] { mnuLoad_Click(); });
    mnuSave = file->addAction(QStringLiteral("Save"), this, [this] { mnuSave_Click(); });
    file->addSeparator();
    mnuOptions = file->addAction(QStringLiteral("Options"), this, [this] { m_main.showOptions(); });
    mnurestore = file->addAction(QStringLiteral("Restore Defaults"), this, [this] { mnurestore_Click(); });
    file->addSeparator();
    QMenu* conf = file->addMenu(QStringLiteral("Config"));
    for (int n = 1; n <= 12; ++n) {
        mnuConfig[n] = conf->addAction(QStringLiteral("Config %1").arg(n));
        mnuConfig[n]->setCheckable(true);
        mnuConfig[n]->setChecked(n == 1);
        connect(mnuConfig[n], &QAction::triggered, this,
                [this, n] { mnuConfig_Click(static_cast<int16_t>(n)); });
    }
    file->addSeparator();
    mnuSwitch = file->addAction(QStringLiteral("Switch to Speech Tool"), this, [this] { mnuSwitch_Click(); });
    file->addSeparator();
    mnuExit = file->addAction(QStringLiteral("E&xit"), this, [this] { m_session.shutdown(); });
}

int16_t frmMultiMacro::EnabledValue(int row) const {
    return CheckValue(chkEnabled.at(row));
}
int16_t frmMultiMacro::AddEnterValue(int row) const {
    return CheckValue(chkAddEnter.at(row));
}
std::string frmMultiMacro::CommandText(int row) const {
    return txtCommand.at(row)->text().toStdString();
}

SlotRows frmMultiMacro::rows() const {
    SlotRows out;
    for (int r = 0; r < 12; ++r)
        out[r] = {EnabledValue(r), AddEnterValue(r), CommandText(r)};
    return out;
}

void frmMultiMacro::showRows(const SlotRows& rows) {
    for (int r = 0; r < 12; ++r) {
        chkAddEnter[r]->setCheckState(rows[r].addEnterValue == 1 ? Qt::Checked : Qt::Unchecked);
        chkEnabled[r]->setCheckState(rows[r].enabledValue == 1 ? Qt::Checked : Qt::Unchecked);
        txtCommand[r]->setText(QString::fromStdString(rows[r].command));
    }
}

void frmMultiMacro::setBold(int n, bool bold) {
    ApplyProgramFont(cmdConfig[n], bold);
}

// The button leaves the Config menu's marks alone; the menu moves them, and sets its button bold
// before storing instead of after.
void frmMultiMacro::switchConfig(int16_t n, bool byMenu) {
    setWindowTitle(QStringLiteral("Keyquill - Config %1").arg(n));
    if (byMenu) setBold(n, true);
    for (int s = 1; s <= 12; ++s) {
        if (!byMenu || s != n) setBold(s, false);
        if (byMenu && s != n && mnuConfig[s]->isChecked()) mnuConfig[s]->setChecked(false);
    }
    m_session.slotStore.storeRows(m_session.CurrentConfig, rows());
    if (byMenu) mnuConfig[n]->setChecked(true);
    setBold(n, true);
    m_session.CurrentConfig = n;
    showRows(m_session.slotStore.rowsFor(n));
    txtCommand[0]->setFocus();
}

void frmMultiMacro::cmdConfig_Click(int16_t Index) {
    switchConfig(Index, false);
}
void frmMultiMacro::mnuConfig_Click(int16_t Index) {
    switchConfig(Index, true);
}

void frmMultiMacro::mnuLoad_Click() {
    LoadSlotSet(AskOpenFileName(this));
}
void frmMultiMacro::mnuSave_Click() {
    SaveSlotSet(AskSaveFileName(this));
}

void frmMultiMacro::LoadSlotSet(const QString& path) {
    if (path.trimmed().isEmpty()) return;
    if (!ReadSlotSetFile(path.toStdString(), m_session.slotStore)) {
        // What was read before the bad field stays in the store; the rows keep what they showed.
        m_main.ShowMessage(kMsgBadFormat, MessageKind::Critical, kProgramTitle);
        return;
    }
    showRows(m_session.slotStore.rowsFor(m_session.CurrentConfig));
    txtCommand[0]->setFocus();
}

void frmMultiMacro::SaveSlotSet(const QString& path) {
    if (path.trimmed().isEmpty()) return;
    cmdConfig_Click(m_session.CurrentConfig);
    WriteSlotSetFile(path.toStdString(), m_session.slotStore); // a failed save is silent
}

void frmMultiMacro::mnurestore_Click() {
    for (int r = 0; r < 12; ++r) {
        setBold(r + 1, false);
        chkEnabled[r]->setCheckState(Qt::Unchecked);
        chkAddEnter[r]->setCheckState(Qt::Unchecked);
        txtCommand[r]->clear();
    }
    setBold(1, true);
    m_session.slotStore.clear();
    // Config 1 becomes the one shown, so the caption and the menu agree with the bold button.
    m_session.CurrentConfig = 1;
    setWindowTitle(QStringLiteral("Keyquill - Config 1"));
    for (int n = 1; n <= 12; ++n)
        mnuConfig[n]->setChecked(n == 1);
}

void frmMultiMacro::mnuSwitch_Click() {
    m_session.switchMode(ModeSingleList);
}

void frmMultiMacro::showWindow() {
    show();
    raise();
    activateWindow();
}

void frmMultiMacro::unload() {
    if (m_unloaded) return;
    m_unloaded = true;
    hide();
}

void frmMultiMacro::closeEvent(QCloseEvent* event) {
    event->accept();
    if (!m_unloaded) m_session.shutdown();
}

void frmMultiMacro::changeEvent(QEvent* event) {
    QMainWindow::changeEvent(event);
    HideWhenMinimisedToTray(this, event);
}

bool frmMultiMacro::event(QEvent* event) {
    if (event->type() == QEvent::WindowActivate) txtCommand[0]->setFocus();
    if (event->type() == QEvent::Show && !m_placed) {
        m_placed = true;
        if (const QScreen* s = QGuiApplication::primaryScreen())
            move(s->geometry().center() - QPoint(width() / 2, height() / 2));
    }
    return QMainWindow::event(event);
}

} // namespace kq
