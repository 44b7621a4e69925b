#pragma once
// The keymap a virtual keyboard uploads: every keysym a line needs on a key of its own, at the
// first level, so any character types whatever layout the user has, with no modifier. Shift,
// Control and Alt have keys of their own for the notation's combinations.
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

namespace kq {

class VirtualKeymap {
public:
    VirtualKeymap();
    // Keysyms one keymap can hold besides the modifiers.
    static size_t capacity();

    // Gives each of `keysyms` (distinct, at most capacity()) a key, keeping the keys already placed
    // where they were and taking back the least recently used only when room is needed: a client
    // that reads the new keymap late still finds the keys of the lines before. True when the
    // keymap changed (and must be uploaded again).
    bool place(const std::vector<uint32_t>& keysyms);
    // The XKB keycode of a placed keysym, 0 if it has none.
    uint32_t keycodeOf(uint32_t keysym) const;
    uint32_t shiftKeycode() const { return m_modifierCodes[0]; }
    uint32_t controlKeycode() const { return m_modifierCodes[1]; }
    uint32_t altKeycode() const { return m_modifierCodes[2]; }
    // The keymap in XKB's text format, as the protocol carries it.
    std::string text() const;

private:
    std::vector<uint32_t> m_free;                    // keycodes with no keysym, in order
    std::unordered_map<uint32_t, uint32_t> m_placed; // keysym -> keycode
    std::vector<uint32_t> m_order;                   // placed keysyms, least recently used first
    uint32_t m_modifierCodes[3] = {};
};

} // namespace kq
