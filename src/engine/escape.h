#pragma once
#include <string>
#include <string_view>

namespace kq {

// Every "(" becomes "{(}" and every ")" becomes "{)}", so a command line's parentheses are
// typed instead of grouping keys. Nothing else changes: braces in a line still name keys.
std::string EscapeParentheses(std::string_view text);

} // namespace kq
