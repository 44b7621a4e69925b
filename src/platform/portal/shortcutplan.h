#pragma once
// The global shortcuts Keyquill asks a desktop portal for, as data: one shortcut id per key, so a
// key keeps its id from one session to the next and a desktop that remembers the ids it has
// granted does not ask the user again.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

struct PortalShortcut {
    uint32_t vk = 0;
    std::string id;          // stable: "tab", "caps-lock", "f1".."f12"
    std::string description; // what the desktop's dialog and settings show
    std::string trigger;     // preferred trigger, as XDG shortcut triggers are written
};

// The shortcut for a key the filter may watch (Tab, Caps Lock, F1..F12); nullopt for any other.
std::optional<PortalShortcut> PortalShortcutFor(uint32_t vk);
// The key of a shortcut id of ours; 0 for an id that is not.
uint32_t PortalShortcutVk(std::string_view id);

// The keys to bind for a sorted watched set.
//
// GNOME and KDE keep one granted set of ids per application, replace it with each request, and
// ask the user about any id not in it. A session that bound Caps Lock alone (single-list mode
// with "Enabled" off) would replace the granted set, and ticking "Enabled" again would bring the
// dialog back every time; so that state binds nothing and Caps Lock reaches the applications
// until "Enabled" is ticked. (On KWin the lock toggles even while the key is bound.)
std::vector<uint32_t> PortalKeysToBind(const std::vector<uint32_t>& watched);

} // namespace kq
