#pragma once
// The keyboard backend of a sway session: hotkeys are sway bindings made through its IPC socket
// (sway swallows the key and reports its press and release as binding events), and lines are
// typed through a virtual keyboard of the compositor.
#include "platform/compositorkeyboard.h"

#include <memory>
#include <string>

namespace kq {

class SwayKeyboard : public CompositorKeyboard {
public:
    // nullptr, with the reason, when this is no sway session or the compositor lacks a service.
    static std::unique_ptr<SwayKeyboard> open(std::string* error);
    ~SwayKeyboard() override;

    int eventFd() const override;
    void processPendingEvents() override;
    int msUntilHousekeeping() const override { return -1; }
    // Quirk: Qt cannot set a window's opacity on Wayland (nor does sway read it from X11 windows);
    // sway's own `opacity` command can.
    WindowOpacity* windowOpacity() override;
    KeystrokeSink& typer() override;

    // Quirk: sway tells no client the lock state of the user's keyboards, so it is taken as off;
    // our typing has a keyboard of its own whose lock is never on, so a line is exact either way.
    bool CapsLockOn() override { return false; }
    void switchCapsLockOff() override {}

    struct Impl;

private:
    void bind(const std::vector<Hotkey>& keys) override;
    explicit SwayKeyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
