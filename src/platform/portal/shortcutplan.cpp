#include "platform/portal/shortcutplan.h"

#include "engine/hotkey.h"

namespace kq {

PortalShortcut PortalShortcutFor(Hotkey key) {
    const std::string id(HotkeyId(key));
    if (key == Hotkey::Tab) return {key, id, "Keyquill: Tab types the next line", "Tab"};
    if (key == Hotkey::CapsLock)
        return {key, id, "Keyquill: Caps Lock is kept from the applications", "Caps_Lock"};
    const std::string n = std::to_string(FunctionKeyIndex(key) + 1);
    return {key, id, "Keyquill: F" + n + " types a line", "F" + n};
}

std::vector<Hotkey> PortalKeysToBind(const std::vector<Hotkey>& watched) {
    if (watched == std::vector<Hotkey>{Hotkey::CapsLock}) return {};
    return watched;
}

} // namespace kq
