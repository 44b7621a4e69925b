#include "files/conversions.h"

#include <cctype>
#include <cmath>
#include <cstdlib>
#include <limits>
#include <string>

namespace kq {
namespace {

std::string_view trimSpaces(std::string_view t) {
    while (!t.empty() && t.front() == ' ')
        t.remove_prefix(1);
    while (!t.empty() && t.back() == ' ')
        t.remove_suffix(1);
    return t;
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// sign? digits* ('.' digits*)? ([eE] sign? digits+)? with at least one mantissa digit.
bool wellFormed(std::string_view t) {
    size_t i = 0;
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    size_t digits = 0;
    while (i < t.size() && isDigit(t[i]))
        ++i, ++digits;
    if (i < t.size() && t[i] == '.') {
        ++i;
        while (i < t.size() && isDigit(t[i]))
            ++i, ++digits;
    }
    if (digits == 0) return false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        size_t exp = 0;
        while (i < t.size() && isDigit(t[i]))
            ++i, ++exp;
        if (exp == 0) return false;
    }
    return i == t.size();
}

template <typename T> std::optional<T> inRange(double v) {
    if (!std::isfinite(v) || v < static_cast<double>(INT32_MIN) - 1 || v > static_cast<double>(INT32_MAX) + 1)
        return std::nullopt;
    if (v < static_cast<double>(std::numeric_limits<T>::min()) ||
        v > static_cast<double>(std::numeric_limits<T>::max()))
        return std::nullopt;
    return static_cast<T>(v);
}

} // namespace

std::optional<double> ParseDecimal(std::string_view text) {
    const std::string_view t = trimSpaces(text);
    if (!wellFormed(t)) return std::nullopt;
    return std::strtod(std::string(t).c_str(), nullptr);
}

std::optional<int32_t> ToLong(std::string_view text) {
    const auto v = ParseDecimal(text);
    if (!v) return std::nullopt;
    return inRange<int32_t>(std::nearbyint(*v)); // the default rounding mode is half to even
}

std::optional<int16_t> ToInteger(std::string_view text) {
    const auto v = ParseDecimal(text);
    if (!v) return std::nullopt;
    return inRange<int16_t>(std::nearbyint(*v));
}

std::optional<int16_t> FloorToInteger(std::string_view text) {
    const auto v = ParseDecimal(text);
    if (!v) return std::nullopt;
    return inRange<int16_t>(std::floor(*v));
}

std::optional<bool> ToBoolean(std::string_view text) {
    const std::string_view t = trimSpaces(text);
    auto equalsNoCase = [&](std::string_view word) {
        if (t.size() != word.size()) return false;
        for (size_t i = 0; i < t.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(t[i])) != word[i]) return false;
        return true;
    };
    if (equalsNoCase("true")) return true;
    if (equalsNoCase("false")) return false;
    const auto v = ParseDecimal(t);
    if (!v) return std::nullopt;
    return *v != 0.0;
}

} // namespace kq
