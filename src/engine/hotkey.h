#pragma once
// The keys Keyquill can take for itself: the hotkeys a user binds (TAB, F1..F12) and Caps Lock,
// which is kept from the applications while Keyquill runs.
#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace kq {

enum class Hotkey : uint8_t { Tab, F1, F2, F3, F4, F5, F6, F7, F8, F9, F10, F11, F12, CapsLock };

struct BindableKey {
    std::string_view text; // as the "Bind on:" list shows it
    Hotkey key;
};

// The keys the single list can be bound to, in the order the list shows them.
inline constexpr std::array<BindableKey, 13> BindableKeys{{
    {"TAB", Hotkey::Tab},
    {"F1", Hotkey::F1},
    {"F2", Hotkey::F2},
    {"F3", Hotkey::F3},
    {"F4", Hotkey::F4},
    {"F5", Hotkey::F5},
    {"F6", Hotkey::F6},
    {"F7", Hotkey::F7},
    {"F8", Hotkey::F8},
    {"F9", Hotkey::F9},
    {"F10", Hotkey::F10},
    {"F11", Hotkey::F11},
    {"F12", Hotkey::F12},
}};

// Exact, case-sensitive lookup of a "Bind on:" text.
inline std::optional<Hotkey> HotkeyFromText(std::string_view text) {
    for (const auto& e : BindableKeys)
        if (e.text == text) return e.key;
    return std::nullopt;
}

// The key's name for the user: "TAB", "F1".., "Caps Lock".
inline std::string_view HotkeyText(Hotkey key) {
    return key == Hotkey::CapsLock ? "Caps Lock" : BindableKeys[static_cast<size_t>(key)].text;
}

inline bool IsFunctionKey(Hotkey key) {
    return key >= Hotkey::F1 && key <= Hotkey::F12;
}
// 0 for F1 .. 11 for F12.
inline int FunctionKeyIndex(Hotkey key) {
    return static_cast<int>(key) - static_cast<int>(Hotkey::F1);
}
inline Hotkey FunctionKey(int index) {
    return static_cast<Hotkey>(static_cast<int>(Hotkey::F1) + index);
}

// Every key, for loops over all of them.
inline constexpr std::array<Hotkey, 14> AllHotkeys{
    Hotkey::Tab, Hotkey::F1, Hotkey::F2, Hotkey::F3,  Hotkey::F4,  Hotkey::F5,  Hotkey::F6,
    Hotkey::F7,  Hotkey::F8, Hotkey::F9, Hotkey::F10, Hotkey::F11, Hotkey::F12, Hotkey::CapsLock};

// A stable name for the key in what other programs keep for us (portal shortcut ids, sway
// bindings): "tab", "f1".."f12", "caps-lock".
inline std::string_view HotkeyId(Hotkey key) {
    constexpr std::array<std::string_view, 14> ids{"tab", "f1", "f2", "f3",  "f4",  "f5",  "f6",
                                                   "f7",  "f8", "f9", "f10", "f11", "f12", "caps-lock"};
    return ids[static_cast<size_t>(key)];
}
inline std::optional<Hotkey> HotkeyFromId(std::string_view id) {
    for (Hotkey key : AllHotkeys)
        if (HotkeyId(key) == id) return key;
    return std::nullopt;
}

} // namespace kq
