#pragma once
// The slot set file: 144 slots (config 1 slot 1 .. config 12 slot 12), three fields each -
// enabled, add-Enter, command - every field followed by CR, the file ending in CR CR LF.
// Commas in commands are stored as byte 8 because commas also end fields.
#include "files/slotstore.h"

#include <string>

namespace kq {

std::string SerializeSlotSet(const SlotStore& store);
bool WriteSlotSetFile(const std::string& path, const SlotStore& store);

// Fills the store from decoded file text, slot by slot. On a format error the entries assigned
// before the failing field keep their new values and false is returned.
bool ParseSlotSet(const std::string& text, SlotStore& store);
// As ParseSlotSet; false also when the file cannot be read or is empty.
bool ReadSlotSetFile(const std::string& path, SlotStore& store);

} // namespace kq
