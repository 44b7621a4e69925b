#pragma once
// Text -> number and Boolean conversions as the file readers need them: decimal text with an
// optional sign, fraction and exponent, surrounded by optional spaces.
#include <cstdint>
#include <optional>
#include <string_view>

namespace kq {

std::optional<double> ParseDecimal(std::string_view text);
// Rounded half to even, then range-checked to 32 or 16 bits.
std::optional<int32_t> ToLong(std::string_view text);
std::optional<int16_t> ToInteger(std::string_view text);
// Rounded down (towards minus infinity), then range-checked to 16 bits.
std::optional<int16_t> FloorToInteger(std::string_view text);
// "True"/"False" in any case, or a number (0 false, anything else true).
std::optional<bool> ToBoolean(std::string_view text);

} // namespace kq
