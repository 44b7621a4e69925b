#pragma once
// The notification-area icon and its menu (Minimize, Restore, Exit), acting on the window of the
// current mode. The menu opens on the right button; left clicks do nothing.
#include <QObject>

#include <functional>

class QAction;
class QIcon;
class QMenu;
class QEvent;
class QSystemTrayIcon;
class QWidget;

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

// A working window leaves the screen when minimised, for the tray to bring back; with no tray
// host running it is minimised the ordinary way instead, so it can still be found.
void HideWhenMinimisedToTray(QWidget* window, const QEvent* event);

} // namespace kq
