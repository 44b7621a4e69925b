#pragma once
// Reads comma- and line-delimited fields from decoded file text.
#include <optional>
#include <string>

namespace kq {

class DelimitedReader {
public:
    enum class Style {
        // Leading spaces are skipped and a field that starts with a double quote runs to the
        // closing quote (the settings file, as Windows tools write it).
        Runtime,
        // Every character up to the delimiter belongs to the field, so any command round-trips.
        Verbatim,
    };

    DelimitedReader(std::string text, Style style) : m_text(std::move(text)), m_style(style) {}

    bool atEnd() const { return m_pos >= m_text.size(); }
    // The next field; nullopt when reading past the end. A field ends at a comma, CR, CR LF, LF
    // or the end of the text; the delimiter is consumed.
    std::optional<std::string> readField();

private:
    void consumeDelimiter();

    std::string m_text;
    Style m_style;
    size_t m_pos = 0;
};

} // namespace kq
