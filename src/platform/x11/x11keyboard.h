#pragma once
// The keyboard filter, Caps Lock control and typing on an X server, on a connection of their own
// (eventFd() is its socket: a round trip can queue events without making it readable).
#include "platform/keyboard.h"
#include "platform/sparepool.h"

#include <memory>
#include <string>

namespace kq {

class X11Typer;

class X11Keyboard : public PlatformKeyboard {
public:
    // nullptr when the display cannot be opened or lacks XTest, XKB or XInput 2.2.
    static std::unique_ptr<X11Keyboard> open(const char* displayName, std::string* error = nullptr,
                                             SpareTimings timings = {});
    ~X11Keyboard() override;

    int eventFd() const override;
    void processPendingEvents() override;
    // Upkeep: the spare keycodes due for release.
    int msUntilHousekeeping() const override;
    KeystrokeSink& typer() override;
    // What a line could not type in a window that forwards key codes.
    std::string takeNotice() override;
    // From the layout names the server keeps (_XKB_RULES_NAMES) and the group in use.
    LayoutName layoutName() override;

    bool install(Callbacks callbacks) override;
    void remove() override;
    bool installed() const override;
    void setWatchedKeys(const std::vector<Hotkey>& keys) override;
    std::vector<Hotkey> takeRefusedKeys() override;

    bool CapsLockOn() override;
    void switchCapsLockOff() override;

    bool startReadingAhead(std::function<void()> wake) override;
    void stopReadingAhead() override;
    void waiting(bool now, bool prepared) override;

    struct Impl;

private:
    explicit X11Keyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
