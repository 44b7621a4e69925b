#include "engine/notation.h"

#include "engine/utf8.h"

#include <array>
#include <utility>

namespace kq {
namespace {

struct NameEntry {
    std::string_view name;
    NamedKey key;
};

constexpr std::array<NameEntry, 49> kNames{{
    {"BACKSPACE", NamedKey::Backspace},
    {"BS", NamedKey::Backspace},
    {"BKSP", NamedKey::Backspace},
    {"BREAK", NamedKey::Break},
    {"CAPSLOCK", NamedKey::CapsLock},
    {"DELETE", NamedKey::Delete},
    {"DEL", NamedKey::Delete},
    {"DOWN", NamedKey::Down},
    {"END", NamedKey::End},
    {"ENTER", NamedKey::Enter},
    {"ESC", NamedKey::Esc},
    {"ESCAPE", NamedKey::Esc},
    {"HELP", NamedKey::Help},
    {"HOME", NamedKey::Home},
    {"INSERT", NamedKey::Insert},
    {"INS", NamedKey::Insert},
    {"LEFT", NamedKey::Left},
    {"NUMLOCK", NamedKey::NumLock},
    {"PGDN", NamedKey::PageDown},
    {"PGUP", NamedKey::PageUp},
    {"PRTSC", NamedKey::PrintScreen},
    {"RIGHT", NamedKey::Right},
    {"SCROLLLOCK", NamedKey::ScrollLock},
    {"TAB", NamedKey::Tab},
    {"UP", NamedKey::Up},
    {"F1", NamedKey::F1},
    {"F2", NamedKey::F2},
    {"F3", NamedKey::F3},
    {"F4", NamedKey::F4},
    {"F5", NamedKey::F5},
    {"F6", NamedKey::F6},
    {"F7", NamedKey::F7},
    {"F8", NamedKey::F8},
    {"F9", NamedKey::F9},
    {"F10", NamedKey::F10},
    {"F11", NamedKey::F11},
    {"F12", NamedKey::F12},
    {"F13", NamedKey::F13},
    {"F14", NamedKey::F14},
    {"F15", NamedKey::F15},
    {"F16", NamedKey::F16},
    {"ADD", NamedKey::Add},
    {"SUBTRACT", NamedKey::Subtract},
    {"MULTIPLY", NamedKey::Multiply},
    {"DIVIDE", NamedKey::Divide},
    {"PGDOWN", NamedKey::PageDown},
    {"PAGEDOWN", NamedKey::PageDown},
    {"PAGEUP", NamedKey::PageUp},
    {"PRINTSCREEN", NamedKey::PrintScreen},
}};

// A brace name as written (any case) against its capitals.
bool NamesMatch(std::string_view written, std::string_view capitals) {
    if (written.size() != capitals.size()) return false;
    for (size_t k = 0; k < written.size(); ++k) {
        char c = written[k];
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if (c != capitals[k]) return false;
    }
    return true;
}

bool isControl(char32_t c) {
    return c < 0x20 || c == 0x7F || (c >= 0x80 && c < 0xA0);
}

uint8_t modifierOf(char32_t c) {
    switch (c) {
    case '+':
        return ModShift;
    case '^':
        return ModControl;
    case '%':
        return ModAlt;
    default:
        return ModNone;
    }
}

class Parser {
public:
    explicit Parser(std::u32string text) : s_(std::move(text)) {}

    NotationResult run() {
        NotationResult result;
        if (parseSequence(ModNone, std::nullopt)) {
            result.strokes = std::move(out_);
        } else {
            result.error = std::move(error_);
        }
        return result;
    }

private:
    bool fail(size_t pos, std::string reason) {
        error_ = NotationError{pos, std::move(reason)};
        return false;
    }

    // Parses items until the end, or until the ")" that closes the group opened at groupOpen.
    bool parseSequence(uint8_t mods, std::optional<size_t> groupOpen) {
        while (i_ < s_.size()) {
            if (s_[i_] == ')') {
                if (groupOpen) return true;
                return fail(i_, "\")\" without a matching \"(\"");
            }
            if (!parseItem(mods)) return false;
        }
        if (groupOpen) return fail(*groupOpen, "\"(\" is never closed");
        return true;
    }

    bool parseItem(uint8_t inherited) {
        uint8_t mods = inherited;
        size_t lastModifier = 0;
        bool sawModifier = false;
        while (i_ < s_.size() && modifierOf(s_[i_]) != ModNone) {
            mods |= modifierOf(s_[i_]);
            lastModifier = i_++;
            sawModifier = true;
        }
        if (sawModifier && (i_ >= s_.size() || s_[i_] == ')'))
            return fail(lastModifier, "a modifier (+ ^ %) with no key after it");
        const char32_t c = s_[i_];
        switch (c) {
        case '(': {
            const size_t open = i_++;
            if (!parseSequence(mods, open)) return false;
            ++i_; // the closing ")"
            return true;
        }
        case '{':
            return parseBrace(mods);
        case '}':
            return fail(i_, "\"}\" without a matching \"{\"");
        case '~':
            ++i_;
            return emitNamed(NamedKey::Enter, mods, 1);
        default: {
            const size_t at = i_++;
            return emitChar(c, mods, 1, at);
        }
        }
    }

    bool emitNamed(NamedKey k, uint8_t mods, int count) {
        for (int n = 0; n < count; ++n)
            out_.push_back(KeyStroke::namedKey(k, mods));
        return true;
    }

    // A character typed as itself; CR and TAB are the Enter and Tab keys.
    bool emitChar(char32_t c, uint8_t mods, int count, size_t at) {
        if (c == '\r') return emitNamed(NamedKey::Enter, mods, count);
        if (c == '\t') return emitNamed(NamedKey::Tab, mods, count);
        if (isControl(c)) return fail(at, "control character " + std::to_string(static_cast<uint32_t>(c)));
        for (int n = 0; n < count; ++n)
            out_.push_back(KeyStroke::character(c, mods));
        return true;
    }

    // "{" starts a brace item: {x} is the character x itself (even "}" in "{}}"), {NAME} a key,
    // and either may carry a repeat count after one space: {x 5}, {LEFT 3}.
    bool parseBrace(uint8_t mods) {
        const size_t open = i_++;
        if (i_ >= s_.size()) return fail(open, "\"{\" is never closed");
        size_t close = i_ + 1; // the first character after "{" may itself be "}"
        while (close < s_.size() && s_[close] != '}')
            ++close;
        if (close >= s_.size()) return fail(open, "\"{\" is never closed");
        const std::u32string content = s_.substr(i_, close - i_);
        i_ = close + 1;

        std::u32string name = content;
        int count = 1;
        const size_t space = content.size() > 1 ? content.rfind(U' ') : std::u32string::npos;
        if (space != std::u32string::npos && space > 0) {
            name = content.substr(0, space);
            if (!parseCount(content.substr(space + 1), count)) {
                if (const auto pace = paceFromName(EncodeUtf8(name))) return paceError(*pace, open);
                return fail(open + 1 + space + 1, "bad repeat count (a whole number from 0 to " +
                                                      std::to_string(kMaxRepeat) + " is expected)");
            }
        }
        if (name.size() == 1) return emitChar(name[0], mods, count, open + 1);
        const std::string utf8 = EncodeUtf8(name);
        if (const auto pace = paceFromName(utf8)) return emitPace(*pace, mods, count, space, open);
        const auto key = NamedKeyFromName(utf8);
        if (!key) return fail(open, "unknown key name {" + utf8 + "}");
        return emitNamed(*key, mods, count);
    }

    static std::optional<Pace> paceFromName(const std::string& name) {
        if (NamesMatch(name, "DELAY")) return Pace::Delay;
        if (NamesMatch(name, "SLEEP")) return Pace::Sleep;
        return std::nullopt;
    }

    // {DELAY n} and {SLEEP n} always carry their milliseconds and no modifier: a pause is no key.
    bool emitPace(Pace pace, uint8_t mods, int ms, size_t space, size_t open) {
        if (mods != ModNone) return fail(open, std::string("a modifier (+ ^ %) before ") + paceName(pace));
        if (space == std::u32string::npos || ms > (pace == Pace::Delay ? kMaxDelay : kMaxSleep))
            return paceError(pace, open);
        out_.push_back(KeyStroke::pacing(pace, static_cast<uint16_t>(ms)));
        return true;
    }
    static const char* paceName(Pace pace) { return pace == Pace::Delay ? "{DELAY n}" : "{SLEEP n}"; }
    bool paceError(Pace pace, size_t open) {
        return fail(open, std::string(paceName(pace)) + " needs milliseconds from 0 to " +
                              std::to_string(pace == Pace::Delay ? kMaxDelay : kMaxSleep));
    }

    static bool parseCount(const std::u32string& digits, int& count) {
        if (digits.empty() || digits.size() > 5) return false;
        int value = 0;
        for (char32_t d : digits) {
            if (d < '0' || d > '9') return false;
            value = value * 10 + static_cast<int>(d - '0');
        }
        if (value > kMaxRepeat) return false;
        count = value;
        return true;
    }

    std::u32string s_;
    size_t i_ = 0;
    KeyStrokes out_;
    NotationError error_;
};

} // namespace

std::optional<NamedKey> NamedKeyFromName(std::string_view name) {
    for (const auto& entry : kNames)
        if (NamesMatch(name, entry.name)) return entry.key;
    return std::nullopt;
}

NotationResult ParseNotation(std::string_view text) {
    size_t bad = 0;
    auto decoded = DecodeUtf8(text, &bad);
    if (!decoded) {
        NotationResult result;
        result.error = NotationError{bad, "the text is not valid UTF-8"};
        return result;
    }
    return Parser(std::move(*decoded)).run();
}

} // namespace kq
