#pragma once
// What types a line on a desktop where a HotkeySource brings the hotkeys: a virtual keyboard,
// KWin's fake input, the RemoteDesktop portal.
#include "engine/hotkey.h"
#include "engine/keystroke.h"

#include <optional>

namespace kq {

class Typer : public KeystrokeSink {
public:
    // False once the session has gone.
    virtual bool alive() const { return true; }
    // The user's Caps Lock where the desktop tells this typer (nullopt where it does not), and a
    // press of it that toggles the lock.
    virtual std::optional<bool> capsLocked() { return std::nullopt; }
    virtual void tapCapsLock() {}
};

} // namespace kq
