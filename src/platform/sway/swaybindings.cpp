#include "platform/sway/swaybindings.h"

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

uint32_t SwayKeycodeFor(Hotkey key) {
    constexpr uint32_t evdevOffset = 8;
    if (key == Hotkey::Tab) return 15 + evdevOffset;
    if (key == Hotkey::CapsLock) return 58 + evdevOffset;
    const int f = FunctionKeyIndex(key); // F1..F10 are 59..68, F11 and F12 87 and 88
    return static_cast<uint32_t>(f < 10 ? 59 + f : 87 + (f - 10)) + evdevOffset;
}

std::string SwayBindingCommands(const std::vector<Hotkey>& keys, std::string_view tag, bool bind) {
    std::string out;
    for (Hotkey key : keys) {
        const uint32_t code = SwayKeycodeFor(key);
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
                    out += HotkeyId(key);
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
    const auto hotkey = HotkeyFromId(rest);
    if (!hotkey) return std::nullopt;
    key.key = *hotkey;
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
