#pragma once
// Where the hotkeys come from on a desktop whose compositor swallows the keys itself and reports
// their presses and releases afterwards: sway bindings, portal shortcuts. A source binds what it
// is handed and reads what arrived; ComposedKeyboard acts on it.
#include "engine/hotkey.h"

#include <string>
#include <vector>

namespace kq {

struct HotkeyEvent {
    Hotkey key = Hotkey::Tab;
    bool release = false;
};

class HotkeySource {
public:
    virtual ~HotkeySource() = default;
    // Readable when events may be waiting.
    virtual int fd() const = 0;
    // The keys the compositor should swallow from now on (sorted; none lets every key through).
    virtual void bind(const std::vector<Hotkey>& keys) = 0;
    // What the compositor has bound for us now, as far as it has answered (sorted).
    virtual std::vector<Hotkey> bound() const = 0;
    // Handles what arrived and appends the presses and releases, in order, without blocking.
    // False once the session has gone.
    virtual bool read(std::vector<HotkeyEvent>* events) = 0;
    // A sentence for the user when the desktop refused or took back the keys, once each.
    virtual std::string takeNotice() { return {}; }
    // True when the desktop swallows the keys whatever Keyquill binds (a compositor binding that
    // runs a command): a press Keyquill lets pass is then typed by Keyquill itself.
    virtual bool retypesPassedKeys() const { return false; }
    // True when the desktop also reports the keys Keyquill types itself (a binding that matches a
    // key whoever pressed it).
    virtual bool reportsTypedKeys() const { return retypesPassedKeys(); }
};

} // namespace kq
