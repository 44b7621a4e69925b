#pragma once
// The platform's keyboard services, as the rest of the program sees them. No window-system
// header appears here; x11/ implements them for X servers, fake/ for tests.
#include "engine/dispatch.h"
#include "engine/keystroke.h"
#include "platform/windowopacity.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kq {

// A global filter that sees the candidate keys before any application, swallows or passes
// each event, and calls back on the UI thread.
class KeyFilter {
public:
    struct Callbacks {
        // Pure: swallow or pass, from the state at entry. Runs while the keyboard may be frozen.
        std::function<HotkeyDecision(const KeyEvent&)> decide;
        // Side effects of the decision (playback, selection, latch). Runs after the keyboard
        // has been released, so typing, yields and message boxes never find it frozen.
        std::function<void(const HotkeyDecision&)> act;
        // Optional, for backends that read ahead (PlatformKeyboard::startReadingAhead): called on
        // the backend's thread, while the UI thread waits, with a press that starts playback and
        // is the first event to act on; it may type the press's line there. act follows as usual.
        std::function<void(const HotkeyDecision&)> typeAhead;
    };
    virtual ~KeyFilter() = default;
    virtual bool install(Callbacks callbacks) = 0;
    virtual void remove() = 0;
    virtual bool installed() const = 0;
    // The keys the filter must watch right now, sorted (Caps Lock always; the bound key while it
    // is enabled; F1..F12 in multi-slot mode). Keys outside the set reach the applications
    // untouched, which is what the dispatch would decide for them anyway.
    virtual void setWatchedKeys(const std::vector<Hotkey>& keys) = 0;
    // Watched keys that another program holds, each reported once: the filter cannot have them.
    virtual std::vector<Hotkey> takeRefusedKeys() { return {}; }
};

class CapsLockControl {
public:
    virtual ~CapsLockControl() = default;
    // True exactly when Caps Lock is locked on and the key is not held down at this moment.
    virtual bool CapsLockOn() = 0;
    // Switches the lock off without sending any key event to applications.
    virtual void switchCapsLockOff() = 0;
};

// The keyboard layout in use, as XKB names it ("de", "nodeadkeys"); empty where unknown.
struct LayoutName {
    std::string layout, variant;
};

// A keyboard backend for one kind of session: the filter, Caps Lock, the typing, and the events
// the UI thread pumps. The owner watches eventFd() and calls processPendingEvents() when it is
// readable and before its event loop blocks (a backend may queue events without the fd showing it).
class PlatformKeyboard : public KeyFilter, public CapsLockControl {
public:
    virtual KeystrokeSink& typer() = 0;
    virtual int eventFd() const = 0;
    virtual void processPendingEvents() = 0;
    // Milliseconds until processPendingEvents() has upkeep to do even without events; -1 when
    // nothing is due.
    virtual int msUntilHousekeeping() const = 0;
    // A sentence for the user that came up while running (the desktop refused or ended the
    // hotkeys), each once; empty when there is none.
    virtual std::string takeNotice() { return {}; }
    // The layout keys are typed in now; empty where the backend cannot tell.
    virtual LayoutName layoutName() { return {}; }
    // The compositor's window translucency, where the toolkit cannot set it; nullptr otherwise.
    virtual WindowOpacity* windowOpacity() { return nullptr; }

    // Reading ahead: a thread of the backend's own reads the events while the UI thread waits in
    // its event loop, settles hotkey presses and calls Callbacks::typeAhead, so a line's first
    // keys go out without waking the UI thread first. From the start on, the UI thread must call
    // waiting(true) just before each wait and waiting(false) just after it; in between, the
    // backend's thread may use the program's state. `wake` is called from that thread when there
    // are events for processPendingEvents(). False where the backend reads only on the UI thread.
    virtual bool startReadingAhead(std::function<void()> /*wake*/) { return false; }
    virtual void stopReadingAhead() {}
    // `prepared`: Callbacks::typeAhead's data was brought up to date since the state last changed.
    // waiting(false) returns once the backend's thread has let go.
    virtual void waiting(bool /*now*/, bool /*prepared*/) {}
};

} // namespace kq
