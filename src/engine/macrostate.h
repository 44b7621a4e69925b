#pragma once
// The process-wide state of the macro engine. One instance lives for the whole run; the keyboard
// filter, the playback and the window handlers read and write it directly.
#include "engine/hotkey.h"

#include <cstdint>
#include <string>
#include <vector>

namespace kq {

inline constexpr int16_t ModeSingleList = 1;
inline constexpr int16_t ModeMultiSlot = 2;

struct MacroState {
    int16_t MacroMode = 0;        // 0 until start-up; 1 single list, 2 multi-slot
    Hotkey BindKey = Hotkey::Tab; // the single-list hotkey
    bool MacroEnabled = false;
    bool HotkeyDown = false; // latch against auto-repeat and a second hotkey while one is held
    // Counts taken hotkey key-ups, so playback can tell whether the key came up while it ran.
    uint32_t KeyUpsTaken = 0;
    int16_t CommandIndex = 0;
    // Working copy of the list's lines. "Not allocated" until the first rebuild; its upper bound
    // is Commands.size() - 1 once allocated.
    std::vector<std::string> Commands;
    bool CommandsAllocated = false;

    int upperBound() const { return CommandsAllocated ? static_cast<int>(Commands.size()) - 1 : -1; }
};

} // namespace kq
