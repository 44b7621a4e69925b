#pragma once
// Which key, with which of Shift and AltGr, gives a character in the keymap the compositor uses.
// A compositor that types through its own keymap (KWin's fake input) can only be handed keys of
// the user's layout, so every character is looked up in it, the lock state included.
#include <cstdint>
#include <optional>
#include <string>

struct xkb_context;
struct xkb_keymap;

namespace kq {

struct LayoutKey {
    uint32_t keycode = 0; // XKB keycode (evdev + 8)
    bool shift = false;
    bool level3 = false; // AltGr
};

class LayoutKeys {
public:
    LayoutKeys();
    ~LayoutKeys();
    LayoutKeys(const LayoutKeys&) = delete;
    LayoutKeys& operator=(const LayoutKeys&) = delete;

    // A keymap as a client receives it (XKB text). False when it does not compile.
    bool load(const std::string& keymapText);
    bool loadNames(const char* layout, const char* variant = ""); // for tests and fallbacks
    // The layout group in use and the Caps Lock state change which key gives what.
    void setState(uint32_t group, bool capsLocked);

    // A key that types this keysym or this character in the group in use; nullopt when that
    // group has none.
    std::optional<LayoutKey> forKeysym(uint32_t keysym) const;
    std::optional<LayoutKey> forChar(char32_t ch) const;
    // The same in another group.
    std::optional<LayoutKey> forKeysymIn(uint32_t group, uint32_t keysym) const {
        return find(false, keysym, group);
    }
    std::optional<LayoutKey> forCharIn(uint32_t group, char32_t ch) const { return find(true, ch, group); }
    // The groups (the user's layouts) of the keymap.
    uint32_t groups() const;
    // A group that has a key for this keysym: the one in use when it does, else the first that
    // does; nullopt when none has.
    std::optional<uint32_t> groupWithKeysym(uint32_t keysym) const;
    std::optional<uint32_t> groupWithChar(char32_t ch) const;
    // True when every group has a key for the character, so that it types whichever is in use.
    bool inEveryGroup(char32_t ch) const;
    // Keycodes of the keys that hold a modifier; 0 when the layout has none.
    uint32_t shiftKeycode() const { return m_shift; }
    uint32_t controlKeycode() const { return m_control; }
    uint32_t altKeycode() const { return m_alt; }
    uint32_t level3Keycode() const { return m_level3; }

private:
    std::optional<LayoutKey> find(bool byChar, uint32_t value, uint32_t group) const;
    std::optional<uint32_t> groupWith(bool byChar, uint32_t value) const;
    void rebuild();

    xkb_context* m_context = nullptr;
    xkb_keymap* m_keymap = nullptr;
    uint32_t m_group = 0;
    bool m_caps = false;
    uint32_t m_shift = 0, m_control = 0, m_alt = 0, m_level3 = 0;
    struct Tables;
    Tables* m_tables = nullptr; // one per group
};

} // namespace kq
