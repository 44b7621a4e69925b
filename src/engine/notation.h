#pragma once
// The key notation of keystroke text: plain characters type themselves, braces name keys,
// + ^ % hold Shift, Ctrl, Alt for the next key or group. See docs/key-notation.md.
#include "engine/keystroke.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace kq {

struct NotationError {
    size_t position = 0; // 0-based index of the offending character (in characters, not bytes)
    std::string reason;
};

struct NotationResult {
    KeyStrokes strokes;
    std::optional<NotationError> error;
    bool ok() const { return !error.has_value(); }
};

// Largest repeat count accepted in {NAME n} and {c n}.
inline constexpr int kMaxRepeat = 10000;

// Limits of {DELAY n} (between keys, for the rest of the line) and {SLEEP n} (one pause), in
// milliseconds.
inline constexpr int kMaxDelay = 1000;
inline constexpr int kMaxSleep = 10000;

// Parses UTF-8 keystroke text. On any error no strokes are returned at all, so a bad line
// never produces half of its keys.
NotationResult ParseNotation(std::string_view text);

// Looks up a brace name (case-insensitive): "DEL", "pgdn", "F12"...
std::optional<NamedKey> NamedKeyFromName(std::string_view name);

} // namespace kq
