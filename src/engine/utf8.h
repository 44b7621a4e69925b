#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace kq {

// Strict UTF-8 decoding (no overlongs, no surrogates). nullopt on the first bad sequence;
// badIndex, when given, receives the index of the character that failed.
std::optional<std::u32string> DecodeUtf8(std::string_view bytes, size_t* badIndex = nullptr);
std::string EncodeUtf8(std::u32string_view text);
void AppendUtf8(std::string& out, char32_t c);

} // namespace kq
