// The slot set reader on any file: no crash; a format error leaves the slots read before it; and
// a set written by the program reads back as the same 144 slots.
#include "files/slotsetfile.h"
#include "files/textcodec.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>

using namespace kq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    SlotStore read;
    ParseSlotSet(DecodeFileText(bytes), read);

    const std::string saved = SerializeSlotSet(read);
    SlotStore again;
    FUZZ_CHECK(ParseSlotSet(DecodeFileText(saved), again));
    FUZZ_CHECK(again == read);
    FUZZ_CHECK(SerializeSlotSet(again) == saved);
    return 0;
}
