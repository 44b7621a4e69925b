#include "files/slotstore.h"

#include <stdexcept>

namespace kq {

SlotStore::Slot& SlotStore::at(int config, int slot) {
    return const_cast<Slot&>(static_cast<const SlotStore*>(this)->at(config, slot));
}

const SlotStore::Slot& SlotStore::at(int config, int slot) const {
    if (config < 1 || config > kConfigCount || slot < 1 || slot > kSlotCount)
        throw std::out_of_range("slot index outside 1..12");
    return m_slots[static_cast<size_t>(config - 1)][static_cast<size_t>(slot - 1)];
}

void SlotStore::clear() {
    m_slots = {};
}

void SlotStore::storeRows(int config, const SlotRows& rows) {
    for (int s = 1; s <= kSlotCount; ++s) {
        const SlotRow& row = rows[static_cast<size_t>(s - 1)];
        SlotAddEnter(config, s) = row.addEnterValue == 1;
        SlotEnabled(config, s) = row.enabledValue == 1;
        SlotCommand(config, s) = row.command;
    }
}

SlotRows SlotStore::rowsFor(int config) const {
    SlotRows rows;
    for (int s = 1; s <= kSlotCount; ++s) {
        SlotRow& row = rows[static_cast<size_t>(s - 1)];
        row.addEnterValue = SlotAddEnter(config, s) ? 1 : 0;
        row.enabledValue = SlotEnabled(config, s) ? 1 : 0;
        row.command = WithoutTrailingBlanks(SlotCommand(config, s));
    }
    return rows;
}

std::string WithoutTrailingBlanks(std::string text) {
    const size_t last = text.find_last_not_of(' ');
    text.erase(last == std::string::npos ? 0 : last + 1);
    return text;
}

} // namespace kq
