#pragma once
// The keyboard filter, Caps Lock control and typing on an X server, on a connection of their own.
// The owner watches connectionFd() and calls processPendingEvents() when it is readable and
// before its event loop blocks (a round trip can queue events without making the fd readable).
#include "platform/keyboard.h"
#include "platform/sparepool.h"

#include <memory>
#include <string>

namespace kq {

class X11Typer;

// Ends the process with one line on standard error and status 1: the X server went away.
[[noreturn]] void ExitDisplayGone();

class X11Keyboard : public KeyFilter, public CapsLockControl {
public:
    // nullptr when the display cannot be opened or lacks XTest, XKB or XInput 2.2.
    static std::unique_ptr<X11Keyboard> open(const char* displayName, std::string* error = nullptr,
                                             SpareTimings timings = {});
    ~X11Keyboard() override;

    int connectionFd() const;
    void processPendingEvents();
    // Milliseconds until processPendingEvents() has upkeep to do even without events (the spare
    // keycodes due for release); -1 when nothing is due.
    int msUntilHousekeeping() const;
    KeystrokeSink& typer();

    bool install(Callbacks callbacks) override;
    void remove() override;
    bool installed() const override;
    void setWatchedKeys(const std::vector<uint32_t>& vks) override;
    std::vector<uint32_t> takeRefusedKeys() override;

    bool CapsLockOn() override;
    void switchCapsLockOff() override;

    struct Impl;

private:
    explicit X11Keyboard(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
