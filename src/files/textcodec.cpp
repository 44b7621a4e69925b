#include "files/textcodec.h"

#include "engine/utf8.h"

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

namespace kq {
namespace {

// Windows-1252 0x80..0x9F; the five holes map to the C1 control of the same number, as Windows does.
constexpr std::array<char16_t, 32> kHighTable{
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

} // namespace

std::string Windows1252ToUtf8(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 4);
    for (char b : bytes) {
        const auto u = static_cast<unsigned char>(b);
        const char32_t c = (u >= 0x80 && u < 0xA0) ? kHighTable[u - 0x80] : u;
        AppendUtf8(out, c);
    }
    return out;
}

std::string DecodeFileText(std::string_view bytes) {
    if (bytes.substr(0, 3) == kUtf8Bom) bytes.remove_prefix(3);
    if (DecodeUtf8(bytes)) return std::string(bytes);
    return Windows1252ToUtf8(bytes);
}

std::optional<std::string> ReadFileBytes(const std::string& path) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return std::nullopt;
    std::string data;
    char buf[65536];
    size_t n = 0;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        data.append(buf, n);
    const bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return std::nullopt;
    return data;
}

bool WriteFileBytes(const std::string& path, std::string_view bytes, std::string* error) {
    // Written beside the old file and renamed over it, so a save that fails half-way (a full
    // disk, a crash) leaves the old file whole. A link is followed: its target gets the new text.
    std::error_code ec;
    const std::string target =
        std::filesystem::is_symlink(path, ec) ? std::filesystem::weakly_canonical(path, ec).string() : path;
    const std::string temp = target + ".kq-saving";
    auto fail = [&](int err) {
        if (error) *error = std::strerror(err);
        std::remove(temp.c_str());
        return false;
    };
    FILE* f = std::fopen(temp.c_str(), "wb");
    if (!f) return fail(errno);
    const bool wrote = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size() && std::fflush(f) == 0;
    const int writeErrno = errno;
    const bool closed = std::fclose(f) == 0;
    if (!wrote || !closed) return fail(wrote ? errno : writeErrno);
    if (std::rename(temp.c_str(), target.c_str()) != 0) return fail(errno);
    return true;
}

} // namespace kq
