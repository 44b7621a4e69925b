#include "platform/wlroots/swaybindings.h"

#include "engine/keytable.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace kq {
namespace {

// Quirk: sway matches a binding's modifiers exactly, locks included, so the bindings cover the
// Caps Lock and Num Lock states as the X11 grabs do. Alt and Super stay with the applications
// and the compositor, as on X11.
constexpr std::string_view kBaseMods[] = {"", "Shift+", "Ctrl+", "Shift+Ctrl+"};
constexpr std::string_view kLockMods[] = {"", "Lock+", "Mod2+", "Lock+Mod2+"};

void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

uint32_t SwayKeycodeFor(uint32_t vk) {
    constexpr uint32_t evdevOffset = 8;
    if (vk == VkTab) return 15 + evdevOffset;
    if (vk == VkCapsLock) return 58 + evdevOffset;
    if (vk >= VkF1 && vk <= VkF1 + 9) return 59 + (vk - VkF1) + evdevOffset;
    if (vk == VkF1 + 10) return 87 + evdevOffset;
    if (vk == VkF1 + 11) return 88 + evdevOffset;
    return 0;
}

std::string SwayBindingCommands(const std::vector<uint32_t>& vks, std::string_view tag, bool bind) {
    std::string out;
    for (uint32_t vk : vks) {
        const uint32_t code = SwayKeycodeFor(vk);
        if (!code) continue;
        for (std::string_view base : kBaseMods)
            for (std::string_view lock : kLockMods)
                for (bool release : {false, true}) {
                    if (!out.empty()) out += "; ";
                    out += bind ? "bindcode --no-warn " : "unbindcode ";
                    out += release ? "--release " : "--no-repeat ";
                    out.append(base).append(lock) += std::to_string(code);
                    if (!bind) continue;
                    out += " nop ";
                    out.append(tag) += release ? " release " : " press ";
                    out += std::to_string(vk);
                }
    }
    return out;
}

std::optional<std::string> JsonStringField(std::string_view json, std::string_view key) {
    const std::string quoted = "\"" + std::string(key) + "\"";
    size_t at = json.find(quoted);
    if (at == std::string_view::npos) return std::nullopt;
    at = json.find_first_not_of(" \t\r\n", at + quoted.size());
    if (at == std::string_view::npos || json[at] != ':') return std::nullopt;
    at = json.find_first_not_of(" \t\r\n", at + 1);
    if (at == std::string_view::npos || json[at] != '"') return std::nullopt;
    std::string value;
    for (size_t i = at + 1; i < json.size(); ++i) {
        const char c = json[i];
        if (c == '"') return value;
        if (c != '\\') {
            value += c;
            continue;
        }
        if (++i >= json.size()) break;
        const char e = json[i];
        if (e == 'u') {
            uint32_t cp = 0;
            if (i + 4 >= json.size() ||
                std::from_chars(json.data() + i + 1, json.data() + i + 5, cp, 16).ptr != json.data() + i + 5)
                return std::nullopt;
            appendUtf8(value, cp);
            i += 4;
            continue;
        }
        const std::string_view from = "\"\\/bfnrt", to = "\"\\/\b\f\n\r\t";
        const size_t k = from.find(e);
        if (k == std::string_view::npos) return std::nullopt;
        value += to[k];
    }
    return std::nullopt;
}

std::optional<SwayHotkey> ParseSwayBindingEvent(std::string_view json, std::string_view tag) {
    const auto command = JsonStringField(json, "command");
    if (!command) return std::nullopt;
    const std::string prefix = "nop " + std::string(tag) + " ";
    std::string_view rest = *command;
    if (rest.substr(0, prefix.size()) != prefix) return std::nullopt;
    rest.remove_prefix(prefix.size());
    SwayHotkey key;
    if (rest.substr(0, 6) == "press ") {
        rest.remove_prefix(6);
    } else if (rest.substr(0, 8) == "release ") {
        key.release = true;
        rest.remove_prefix(8);
    } else {
        return std::nullopt;
    }
    const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), key.vk);
    if (ec != std::errc() || end != rest.data() + rest.size() || !SwayKeycodeFor(key.vk)) return std::nullopt;
    return key;
}

std::string SwayOpacityCommand(int pid, const std::string& title, double opacity) {
    // The title is a regular expression inside a quoted string: a character special to either
    // matches as "any character", which still matches the title itself.
    std::string pattern = "^";
    for (char c : title)
        pattern += std::string_view("\\^$.|?*+()[]{}\"").find(c) != std::string_view::npos ? '.' : c;
    char value[16];
    std::snprintf(value, sizeof value, "%.3f", std::clamp(opacity, 0.0, 1.0));
    return "[pid=" + std::to_string(pid) + " title=\"" + pattern + "$\"] opacity " + value;
}

bool SwayCommandSucceeded(std::string_view reply) {
    const auto count = [reply](std::string_view needle) {
        size_t n = 0;
        for (size_t at = reply.find(needle); at != std::string_view::npos; at = reply.find(needle, at + 1))
            ++n;
        return n;
    };
    const size_t ok = count("\"success\": true") + count("\"success\":true");
    return ok > 0 && ok == count("\"success\"");
}

} // namespace kq
