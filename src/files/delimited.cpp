#include "files/delimited.h"

namespace kq {

void DelimitedReader::consumeDelimiter() {
    if (m_pos >= m_text.size()) return;
    const char c = m_text[m_pos++];
    if (c == '\r' && m_pos < m_text.size() && m_text[m_pos] == '\n') ++m_pos;
}

std::optional<std::string> DelimitedReader::readField() {
    if (atEnd()) return std::nullopt;
    auto isDelimiter = [](char c) { return c == ',' || c == '\r' || c == '\n'; };
    if (m_style == Style::Runtime) {
        while (m_pos < m_text.size() && m_text[m_pos] == ' ')
            ++m_pos;
        if (m_pos < m_text.size() && m_text[m_pos] == '"') {
            const size_t close = m_text.find('"', m_pos + 1);
            const size_t end = close == std::string::npos ? m_text.size() : close;
            std::string field = m_text.substr(m_pos + 1, end - m_pos - 1);
            m_pos = end == m_text.size() ? end : end + 1;
            while (m_pos < m_text.size() && !isDelimiter(m_text[m_pos]))
                ++m_pos; // junk after the quote
            consumeDelimiter();
            return field;
        }
    }
    const size_t start = m_pos;
    while (m_pos < m_text.size() && !isDelimiter(m_text[m_pos]))
        ++m_pos;
    std::string field = m_text.substr(start, m_pos - start);
    consumeDelimiter();
    return field;
}

} // namespace kq
