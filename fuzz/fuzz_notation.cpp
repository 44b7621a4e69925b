// The key notation parser on any bytes: no crash, no hang; a refused line yields no keys at all
// and names a position inside it.
#include "engine/notation.h"
#include "engine/utf8.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string_view>

using namespace kq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const NotationResult r = ParseNotation(text);
    if (!r.ok()) {
        FUZZ_CHECK(r.strokes.empty());
        FUZZ_CHECK(!r.error->reason.empty());
        // In characters where the text decodes; in bytes up to the first bad sequence otherwise.
        const auto chars = DecodeUtf8(text);
        FUZZ_CHECK(r.error->position < (chars ? chars->size() : size));
    }
    return 0;
}
