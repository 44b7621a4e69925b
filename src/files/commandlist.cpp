#include "files/commandlist.h"

#include "files/textcodec.h"

namespace kq {

std::vector<std::string> SplitFileLines(const std::string& text) {
    // A file without any CR is a Unix text file: its LFs end lines. With a CR anywhere, lines end
    // at CR (or CR LF) and a lone LF stays inside its line, as the list's own writer expects.
    const char end = text.find('\r') == std::string::npos ? '\n' : '\r';
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        const size_t cr = text.find(end, start);
        if (cr == std::string::npos) {
            lines.push_back(text.substr(start));
            break;
        }
        lines.push_back(text.substr(start, cr - start));
        start = cr + 1;
        if (end == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

namespace {

bool blankBySpaces(const std::string& line) {
    return line.find_first_not_of(' ') == std::string::npos;
}

std::string withoutTabs(const std::string& line) {
    std::string out;
    out.reserve(line.size());
    for (char c : line)
        if (c != '\t') out.push_back(c);
    return out;
}

} // namespace

CommandListRead ParseCommandList(const std::string& text) {
    CommandListRead result;
    for (const std::string& line : SplitFileLines(text)) {
        if (line.find("\x08\x04") != std::string::npos) {
            result.status = CommandListStatus::BadFormat;
            return result;
        }
        if (blankBySpaces(line)) continue;
        if (static_cast<int>(result.lines.size()) == kMaxListLines) {
            result.status = CommandListStatus::TooLong;
            return result;
        }
        result.lines.push_back(withoutTabs(line));
    }
    return result;
}

CommandListRead ReadCommandList(const std::string& path) {
    const auto bytes = ReadFileBytes(path);
    if (!bytes) return {{}, CommandListStatus::OpenFailed};
    return ParseCommandList(DecodeFileText(*bytes));
}

std::string WithTxtExtension(std::string path) {
    if (path.size() < 4 || path.compare(path.size() - 4, 4, ".txt") != 0) path += ".txt";
    return path;
}

std::string SerializeCommandList(const std::vector<std::string>& lines) {
    std::string text;
    // The reader drops a byte order mark at the start of a file: a first item that begins with
    // U+FEFF keeps it only behind a mark of the file's own.
    if (!lines.empty() && lines.front().rfind(kUtf8Bom, 0) == 0) text = kUtf8Bom;
    for (const std::string& line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

bool WriteCommandList(const std::vector<std::string>& lines, std::string& path) {
    path = WithTxtExtension(path);
    return WriteFileBytes(path, SerializeCommandList(lines));
}

} // namespace kq
