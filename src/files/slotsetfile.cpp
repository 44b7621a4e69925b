#include "files/slotsetfile.h"

#include "files/conversions.h"
#include "files/delimited.h"
#include "files/textcodec.h"

#include <algorithm>
#include <vector>

namespace kq {

std::string SerializeSlotSet(const SlotStore& store) {
    std::string text;
    text.reserve(4096);
    for (int c = 1; c <= kConfigCount; ++c) {
        for (int s = 1; s <= kSlotCount; ++s) {
            text += store.SlotEnabled(c, s) ? "True\r" : "False\r";
            text += store.SlotAddEnter(c, s) ? "True\r" : "False\r";
            std::string command = store.SlotCommand(c, s);
            std::replace(command.begin(), command.end(), ',', '\x08');
            text += command;
            text += '\r';
        }
    }
    text += "\r\n";
    return text;
}

bool WriteSlotSetFile(const std::string& path, const SlotStore& store) {
    return WriteFileBytes(path, SerializeSlotSet(store));
}

bool ParseSlotSet(const std::string& text, SlotStore& store) {
    // Every field is followed by one list element of its own, and one empty element closes the
    // list; a slot that runs into that closing element (or past it) is a format error.
    DelimitedReader reader(text, DelimitedReader::Style::Verbatim);
    std::vector<std::string> list;
    auto field = reader.readField();
    if (!field) return false;
    for (;;) {
        list.push_back(std::move(*field));
        if (reader.atEnd()) break;
        field = reader.readField();
    }
    list.emplace_back();

    int c = 1, s = 1;
    for (size_t i = 0; i < list.size(); i += 3) {
        const auto enabled = ToBoolean(list[i]);
        if (!enabled) return false;
        store.SlotEnabled(c, s) = *enabled;
        if (i + 1 >= list.size()) return false;
        const auto addEnter = ToBoolean(list[i + 1]);
        if (!addEnter) return false;
        store.SlotAddEnter(c, s) = *addEnter;
        if (i + 2 >= list.size()) return false;
        std::string command = list[i + 2];
        std::replace(command.begin(), command.end(), '\x08', ',');
        store.SlotCommand(c, s) = std::move(command);
        if (++s == kSlotCount + 1) s = 1, ++c;
        if (c == kConfigCount + 1) break;
    }
    return true;
}

bool ReadSlotSetFile(const std::string& path, SlotStore& store) {
    const auto bytes = ReadFileBytes(path);
    if (!bytes) return false;
    return ParseSlotSet(DecodeFileText(*bytes), store);
}

} // namespace kq
