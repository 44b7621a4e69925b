#include "platform/portal/shortcutplan.h"

#include "engine/keytable.h"

namespace kq {

std::optional<PortalShortcut> PortalShortcutFor(uint32_t vk) {
    if (vk == VkTab) return PortalShortcut{vk, "tab", "Keyquill: Tab types the next line", "Tab"};
    if (vk == VkCapsLock)
        return PortalShortcut{vk, "caps-lock", "Keyquill: Caps Lock is kept from the applications",
                              "Caps_Lock"};
    if (vk >= VkF1 && vk <= VkF12) {
        const std::string n = std::to_string(vk - VkF1 + 1);
        return PortalShortcut{vk, "f" + n, "Keyquill: F" + n + " types a line", "F" + n};
    }
    return std::nullopt;
}

uint32_t PortalShortcutVk(std::string_view id) {
    if (id == "tab") return VkTab;
    if (id == "caps-lock") return VkCapsLock;
    if (id.size() >= 2 && id.size() <= 3 && id[0] == 'f') {
        uint32_t n = 0;
        for (char c : id.substr(1)) {
            if (c < '0' || c > '9') return 0;
            n = n * 10 + static_cast<uint32_t>(c - '0');
        }
        if (n >= 1 && n <= 12 && id[1] != '0') return VkF1 + n - 1;
    }
    return 0;
}

std::vector<uint32_t> PortalKeysToBind(const std::vector<uint32_t>& watched) {
    std::vector<uint32_t> keys;
    for (uint32_t vk : watched)
        if (PortalShortcutFor(vk)) keys.push_back(vk);
    if (keys == std::vector<uint32_t>{VkCapsLock}) keys.clear();
    return keys;
}

} // namespace kq
