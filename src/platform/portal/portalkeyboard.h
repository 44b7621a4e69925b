#pragma once
// The keyboard backend of GNOME and KDE Plasma Wayland sessions, and of any compositor whose
// desktop portal offers global shortcuts: the hotkeys are portal shortcuts (the compositor
// swallows the key and reports its press and release). Lines are typed in the user's layout,
// with the clipboard for what it lacks: through KWin's fake input where KWin grants it, else
// through the RemoteDesktop portal (GNOME).
#include "platform/compositorkeyboard.h"

#include <memory>
#include <string>

namespace kq {

class PortalKeyboard : public CompositorKeyboard {
public:
    // The application id the portal knows us by: the name of our desktop file.
    static constexpr char kAppId[] = "io.github.wrenfield.Keyquill";

    // nullptr, with the reason, when the portal or the compositor lacks a service we need.
    // `stateDir` keeps the desktop's permission to type between runs.
    static std::unique_ptr<PortalKeyboard> open(const std::string& stateDir, std::string* error);
    ~PortalKeyboard() override;

    int eventFd() const override;
    void processPendingEvents() override;
    int msUntilHousekeeping() const override { return -1; }
    KeystrokeSink& typer() override;

    std::string takeNotice() override;

    bool CapsLockOn() override;
    void switchCapsLockOff() override;

    struct Impl;

private:
    void bind(const std::vector<Hotkey>& keys) override;
    explicit PortalKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
