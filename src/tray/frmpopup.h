#pragma once
// The notification-area icon and its menu (Minimize, Restore, Exit), acting on the window of the
// current mode. The menu opens on the right button; left clicks do nothing.
#include <QObject>

#include <functional>

class QAction;
class QIcon;
class QMenu;
class QSystemTrayIcon;

namespace kq {

class frmPopup : public QObject {
public:
    frmPopup(std::function<void()> minimize, std::function<void()> restore, std::function<void()> exit);
    ~frmPopup() override;

    void AddTrayIcon(const QIcon& icon, const QString& tip);
    void RemoveTrayIcon();
    bool iconShown() const;

    QMenu* mnuFile = nullptr;
    QAction *mnuMinimize = nullptr, *mnurestore = nullptr, *mnuExit = nullptr;
    QSystemTrayIcon* trayIcon = nullptr;
};

} // namespace kq
