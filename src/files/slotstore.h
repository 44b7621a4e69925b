#pragma once
// Twelve configs of twelve slots. Slot s of every config belongs to key F s. Indexes start at 1.
#include <array>
#include <cstdint>
#include <string>

namespace kq {

inline constexpr int kConfigCount = 12;
inline constexpr int kSlotCount = 12;

// What one editor row shows: check-box values (1 ticked, 0 not, 2 greyed) and the line.
struct SlotRow {
    int16_t enabledValue = 0;
    int16_t addEnterValue = 0;
    std::string command;
    bool operator==(const SlotRow&) const = default;
};
using SlotRows = std::array<SlotRow, kSlotCount>;

class SlotStore {
public:
    // Throw std::out_of_range outside 1..12.
    bool& SlotEnabled(int config, int slot) { return at(config, slot).enabled; }
    bool& SlotAddEnter(int config, int slot) { return at(config, slot).addEnter; }
    std::string& SlotCommand(int config, int slot) { return at(config, slot).command; }
    bool SlotEnabled(int config, int slot) const { return at(config, slot).enabled; }
    bool SlotAddEnter(int config, int slot) const { return at(config, slot).addEnter; }
    const std::string& SlotCommand(int config, int slot) const { return at(config, slot).command; }

    void clear();
    // The store side of a config switch: the rows go into `config` as they stand (trailing
    // blanks kept, a box counts only when its value is exactly 1) ...
    void storeRows(int config, const SlotRows& rows);
    // ... and a config comes back for the rows with trailing blanks removed.
    SlotRows rowsFor(int config) const;

    bool operator==(const SlotStore&) const = default;

private:
    struct Slot {
        bool enabled = false;
        bool addEnter = false;
        std::string command;
        bool operator==(const Slot&) const = default;
    };
    Slot& at(int config, int slot);
    const Slot& at(int config, int slot) const;

    // Quirk: no `{}` here (the slots initialise themselves): clang 14 crashes on it.
    std::array<std::array<Slot, kSlotCount>, kConfigCount> m_slots;
};

std::string WithoutTrailingBlanks(std::string text);

} // namespace kq
