#pragma once
// The thirteen keys that can be hotkeys, as virtual-key codes, and their combo box texts.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kq {

inline constexpr uint32_t VkTab = 9;
inline constexpr uint32_t VkCapsLock = 20;
inline constexpr uint32_t VkF1 = 112;
inline constexpr uint32_t VkF12 = 123;

struct KeyTableEntry {
    std::string_view text;
    uint32_t vk;
};

inline constexpr std::array<KeyTableEntry, 13> KeyTable{{
    {"TAB", 9},
    {"F1", 112},
    {"F2", 113},
    {"F3", 114},
    {"F4", 115},
    {"F5", 116},
    {"F6", 117},
    {"F7", 118},
    {"F8", 119},
    {"F9", 120},
    {"F10", 121},
    {"F11", 122},
    {"F12", 123},
}};

// Exact, case-sensitive lookup in table order.
inline std::optional<uint32_t> VkFromKeyText(std::string_view text) {
    for (const auto& e : KeyTable)
        if (e.text == text) return e.vk;
    return std::nullopt;
}

inline bool IsFunctionKey(uint32_t vk) {
    return vk >= VkF1 && vk <= VkF12;
}

} // namespace kq
