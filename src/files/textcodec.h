#pragma once
// Text files are UTF-8. A file that is not valid UTF-8 is read as Windows-1252, so lists made
// with Windows tools in the "ANSI" code page load unchanged.
#include <optional>
#include <string>
#include <string_view>

namespace kq {

inline constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

// Bytes of a file -> UTF-8 text (a UTF-8 byte order mark is dropped).
std::string DecodeFileText(std::string_view bytes);
std::string Windows1252ToUtf8(std::string_view bytes);

// Whole-file helpers. ReadFileBytes: nullopt when the file cannot be opened or read.
std::optional<std::string> ReadFileBytes(const std::string& path);
// Writes (creating or emptying) the file; on failure returns false and fills *error if given.
bool WriteFileBytes(const std::string& path, std::string_view bytes, std::string* error = nullptr);

} // namespace kq
