// The command list reader on any file: whole-file decoding (UTF-8, else Windows-1252), line
// splitting and the loader's rules. No crash; the text is valid UTF-8 whatever the bytes; and a
// list written by the program reads back as the same lines.
#include "engine/utf8.h"
#include "files/commandlist.h"
#include "files/textcodec.h"
#include "fuzz_check.h"

#include <cstdint>
#include <string>
#include <vector>

using namespace kq;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::string text = DecodeFileText(bytes);
    FUZZ_CHECK(DecodeUtf8(text).has_value());
    const bool bom = bytes.rfind("\xEF\xBB\xBF", 0) == 0;
    if (!bom && DecodeUtf8(bytes)) FUZZ_CHECK(text == bytes);

    const CommandListRead read = ParseCommandList(text);
    FUZZ_CHECK(read.lines.size() <= static_cast<size_t>(kMaxListLines));
    if (read.status == CommandListStatus::OpenFailed) FUZZ_CHECK(read.lines.empty());

    // What was read, saved and loaded again, is the same list, but for the empty items (a line
    // of tabs reads as one), which a load drops, and an item that holds BS EOT once its tabs are
    // gone, where the load stops as the format says.
    std::vector<std::string> kept;
    auto status = CommandListStatus::Ok;
    for (const std::string& line : read.lines) {
        if (line.find("\x08\x04") != std::string::npos) {
            status = CommandListStatus::BadFormat;
            break;
        }
        if (line.find_first_not_of(' ') != std::string::npos) kept.push_back(line);
    }
    const CommandListRead again = ParseCommandList(DecodeFileText(SerializeCommandList(read.lines)));
    FUZZ_CHECK(again.status == status);
    FUZZ_CHECK(again.lines == kept);
    return 0;
}
