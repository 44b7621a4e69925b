#include "engine/escape.h"

namespace kq {

std::string EscapeParentheses(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 8);
    for (char c : text) {
        if (c == '(')
            out += "{(}";
        else if (c == ')')
            out += "{)}";
        else
            out.push_back(c);
    }
    return out;
}

} // namespace kq
