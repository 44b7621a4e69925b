#include "tray/frmpopup.h"

#include <QAction>
#include <QEvent>
#include <QMenu>
#include <QSystemTrayIcon>
#include <QWidget>

namespace kq {

frmPopup::frmPopup(std::function<void()> minimize, std::function<void()> restore,
                   std::function<void()> exit) {
    mnuFile = new QMenu(QStringLiteral("File"));
    mnuMinimize = mnuFile->addAction(QStringLiteral("Minimize"), std::move(minimize));
    mnurestore = mnuFile->addAction(QStringLiteral("Restore"), std::move(restore));
    mnuFile->addSeparator();
    mnuExit = mnuFile->addAction(QStringLiteral("Exit"), std::move(exit));
}

frmPopup::~frmPopup() {
    RemoveTrayIcon();
    delete mnuFile;
}

void frmPopup::AddTrayIcon(const QIcon& icon, const QString& tip) {
    if (trayIcon) return;
    // Qt docks the icon when a tray host appears, also one that starts after Keyquill.
    trayIcon = new QSystemTrayIcon(icon, this);
    trayIcon->setToolTip(tip);
    trayIcon->setContextMenu(mnuFile);
    trayIcon->show();
}

void frmPopup::RemoveTrayIcon() {
    if (!trayIcon) return;
    trayIcon->hide();
    delete trayIcon;
    trayIcon = nullptr;
}

bool frmPopup::iconShown() const {
    return trayIcon && trayIcon->isVisible();
}

void HideWhenMinimisedToTray(QWidget* window, const QEvent* event) {
    if (event->type() == QEvent::WindowStateChange && window->isMinimized() &&
        QSystemTrayIcon::isSystemTrayAvailable())
        window->hide();
}

} // namespace kq
