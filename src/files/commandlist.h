#pragma once
// The command list file: one command per line, lines written with CR LF.
#include <string>
#include <vector>

namespace kq {

// The list's count and its cursor are 16-bit, so a list holds at most this many lines.
inline constexpr int kMaxListLines = 32767;

enum class CommandListStatus {
    Ok,
    OpenFailed, // nothing read; the caller's list stays empty
    BadFormat,  // a line held BS EOT: the lines before it are returned
    TooLong,    // more than kMaxListLines lines: the first kMaxListLines are returned
};

struct CommandListRead {
    std::vector<std::string> lines;
    CommandListStatus status = CommandListStatus::Ok;
};

// Splits file text into lines the way the list loader sees them: a line ends at CR, CR LF or the
// end of the text, and a lone LF stays inside its line; in a text without any CR, LF ends lines.
std::vector<std::string> SplitFileLines(const std::string& text);

// Applies the loader's rules to already decoded text: blank-by-spaces lines skipped, tabs removed,
// BS EOT refused, the length limit.
CommandListRead ParseCommandList(const std::string& text);
CommandListRead ReadCommandList(const std::string& path);

// ".txt" is appended unless the name already ends in exactly ".txt" (case-sensitive).
std::string WithTxtExtension(std::string path);
// Every line followed by CR LF.
std::string SerializeCommandList(const std::vector<std::string>& lines);
// Writes every line followed by CR LF. `path` receives the ".txt" it may gain.
bool WriteCommandList(const std::vector<std::string>& lines, std::string& path);

} // namespace kq
