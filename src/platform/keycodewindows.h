#pragma once
// Windows that pass key codes on instead of characters: virtual machine consoles, remote
// desktops, nested X servers. The far side reads each code with a keymap of its own, which can
// only be assumed to be the user's layout: a keycode Keyquill binds to a character for the moment
// means nothing there, so in these windows only the layout's own keys are typed.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kq {

class KeyCodeWindows {
public:
    // The classes known to forward key codes, plus one window class per line of `userList`
    // (blank lines and lines starting with # are skipped).
    explicit KeyCodeWindows(std::string_view userList = {});
    // The built-in list and the user's file, keyquill/key-code-windows in $XDG_CONFIG_HOME
    // (~/.config when unset), if there is one.
    static KeyCodeWindows load();
    // Whether a window of this WM_CLASS (instance and class names) forwards key codes; case is
    // ignored.
    bool matches(std::string_view instance, std::string_view windowClass) const;
    // Whether the window is a Windows program under Wine (its class is the program's file name).
    // Quirk: Wine before 9 works out a key's character only when the program asks for it, with
    // the AltGr state of the last key event Wine has read by then, which at speed belongs to a
    // later key.
    static bool translatesLate(std::string_view instance, std::string_view windowClass);

private:
    std::vector<std::string> m_classes; // in small letters
};

// Characters a layout gives through one of its dead keys followed by another of its keys, as
// the locale's compose table has them.
class DeadKeyCompositions {
public:
    struct Pair {
        uint32_t dead = 0, base = 0; // keysyms
    };
    // `layoutKeysyms`: every keysym the layout's keys give. Nothing is found without a compose
    // table for the locale (nor for en_US.UTF-8).
    explicit DeadKeyCompositions(const std::vector<uint32_t>& layoutKeysyms);
    std::optional<Pair> find(char32_t c) const;

private:
    std::unordered_map<char32_t, Pair> m_pairs;
};

} // namespace kq
