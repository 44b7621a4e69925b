// The line-typing pipeline the Wayland typers share, against an emitter that records: the keys
// and their modifiers in order, runs of what no key types pasted in their place, the layout
// group switched for a key of another layout and back, and nothing sent for a line that cannot be
// typed.
#include "platform/linetyper.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

namespace kq {
namespace {

// Keys of group 0: a..z (shift for capitals); group 1: the Cyrillic letters. Codes are the
// characters themselves; modifiers are C, A, S, G.
struct RecordingEmitter : KeyEmitter {
    std::string log;
    uint32_t active = 0, group = 0;

    bool begin(uint32_t* g) override {
        *g = group = active;
        return true;
    }
    std::optional<EmittedKey> resolve(const KeyStroke& s) override {
        if (s.named) return EmittedKey{'N'};
        if (s.ch >= U'a' && s.ch <= U'z') return EmittedKey{s.ch};
        if (s.ch >= U'A' && s.ch <= U'Z') return EmittedKey{s.ch + 32, true};
        if (s.ch >= U'а' && s.ch <= U'я') return EmittedKey{'c', false, s.ch == U'я', 1};
        return std::nullopt;
    }
    uint32_t heldKeyCode(HeldKey k) override { return "CASG"[static_cast<int>(k)]; }
    bool key(uint32_t code, bool pressed) override {
        log += pressed ? "+" : "-";
        log += static_cast<char>(code);
        return true;
    }
    bool roundTrip() override { return true; }
    bool useGroup(uint32_t g) override {
        log += " [" + std::to_string(g) + "] ";
        group = g;
        return true;
    }
    bool paste(const std::u32string& text, const std::function<bool()>& press) override {
        log += " paste(" + std::to_string(text.size()) + ")";
        return press();
    }
    bool finish() override { return group == active || useGroup(active); }
};

KeyStrokes strokes(const std::u32string& text, uint8_t mods = ModNone) {
    KeyStrokes out;
    for (char32_t c : text)
        out.push_back(KeyStroke::character(c, mods));
    return out;
}

TEST(LineTyper, KeysModifiersPastesAndGroupsInOrder) {
    // The line and the group in use, then whether the line was typed and what the emitter saw.
    const std::tuple<KeyStrokes, uint32_t, bool, std::string> cases[] = {
        {strokes(U"aB"), 0, true, "+a-a+S+b-b-S"},
        {strokes(U"a", ModControl | ModAlt | ModShift), 0, true, "+C+A+S+a-a-S-A-C"},
        {strokes(U"a€→b"), 0, true, "+a-a paste(2)+C+v-v-C+b-b"},
        {strokes(U"я"), 0, true, " [1] +G+c-c-G [0] "},
        {strokes(U"aя"), 1, true, " [0] +a-a [1] +G+c-c-G"},
        {strokes(U"€", ModControl), 0, false, ""},
        {KeyStrokes{KeyStroke::namedKey(NamedKey::Enter, ModShift)}, 0, true, "+S+N-N-S"},
    };
    for (const auto& [keys, active, ok, log] : cases) {
        RecordingEmitter emitter;
        emitter.active = active;
        LineTyper line(emitter);
        EXPECT_EQ(line.type(keys), ok);
        EXPECT_EQ(emitter.log, log);
    }
}

} // namespace
} // namespace kq
