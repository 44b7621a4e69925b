#pragma once
// The global shortcuts Keyquill asks a desktop portal for, as data: one shortcut id per key, so a
// key keeps its id from one session to the next and a desktop that remembers the ids it has
// granted does not ask the user again.
#include "engine/hotkey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

struct PortalShortcut {
    Hotkey key = Hotkey::Tab;
    std::string id;          // stable: "tab", "caps-lock", "f1".."f12"
    std::string description; // what the desktop's dialog and settings show
    std::string trigger;     // preferred trigger, as XDG shortcut triggers are written
};

// The shortcut for a key; its id is the key's HotkeyId.
PortalShortcut PortalShortcutFor(Hotkey key);

// The keys to bind for a sorted watched set.
//
// GNOME and KDE keep one granted set of ids per application, replace it with each request, and
// ask the user about any id not in it. A session that bound Caps Lock alone (single-list mode
// with "Enabled" off) would replace the granted set, and ticking "Enabled" again would bring the
// dialog back every time; so that state binds nothing and Caps Lock reaches the applications
// until "Enabled" is ticked. (On KWin the lock toggles even while the key is bound.)
std::vector<Hotkey> PortalKeysToBind(const std::vector<Hotkey>& watched);

} // namespace kq
