#pragma once
// Key actions: what one send of keystroke text turns into before any key is produced.
#include <cstdint>
#include <string_view>
#include <vector>

namespace kq {

// Keys that the notation names in braces. The platform maps each to its own key code.
enum class NamedKey : uint8_t {
    Backspace,
    Break,
    CapsLock,
    Delete,
    Down,
    End,
    Enter,
    Esc,
    Help,
    Home,
    Insert,
    Left,
    NumLock,
    PageDown,
    PageUp,
    PrintScreen,
    Right,
    ScrollLock,
    Tab,
    Up,
    F1,
    F2,
    F3,
    F4,
    F5,
    F6,
    F7,
    F8,
    F9,
    F10,
    F11,
    F12,
    F13,
    F14,
    F15,
    F16,
    Add,
    Subtract,
    Multiply,
    Divide,
};

enum Modifier : uint8_t { ModNone = 0, ModShift = 1, ModControl = 2, ModAlt = 4 };

// A change of pace inside a line: a delay between the keys that follow, or one pause now.
enum class Pace : uint8_t { Steady, Delay, Sleep };

// One key to press and release, with the modifiers the notation asked for held around it.
// Either a named key, or a character that should appear in the target as it stands; or, with
// `pace` set, no key at all but a change of pace (the sender never sees those).
struct KeyStroke {
    bool named = false;
    NamedKey key = NamedKey::Enter;
    char32_t ch = 0;
    uint8_t modifiers = ModNone;
    Pace pace = Pace::Steady;
    uint16_t milliseconds = 0;

    static KeyStroke character(char32_t c, uint8_t mods = ModNone) {
        return {false, NamedKey::Enter, c, mods};
    }
    static KeyStroke namedKey(NamedKey k, uint8_t mods = ModNone) { return {true, k, 0, mods}; }
    static KeyStroke pacing(Pace p, uint16_t ms) { return {false, NamedKey::Enter, 0, ModNone, p, ms}; }
    bool operator==(const KeyStroke&) const = default;
};

using KeyStrokes = std::vector<KeyStroke>;

// The receiving end of a parsed send: the platform's keystroke sender implements it.
class KeystrokeSink {
public:
    virtual ~KeystrokeSink() = default;
    // Types the strokes in order into the focused window. Returns false if the platform could not
    // produce them (the caller treats that like text it cannot interpret).
    virtual bool send(const KeyStrokes& strokes) = 0;
};

} // namespace kq
