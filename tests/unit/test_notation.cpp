#include "engine/escape.h"
#include "engine/notation.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

using namespace kq;

namespace {

KeyStroke ch(char32_t c, uint8_t mods = ModNone) {
    return KeyStroke::character(c, mods);
}
KeyStroke key(NamedKey k, uint8_t mods = ModNone) {
    return KeyStroke::namedKey(k, mods);
}
constexpr uint8_t kShiftCtrl = ModShift | ModControl;

TEST(Notation, ParsesValidText) {
    using K = NamedKey;
    const std::pair<const char*, KeyStrokes> cases[] = {
        {"ab 1", {ch('a'), ch('b'), ch(' '), ch('1')}},
        {"a\rb~", {ch('a'), key(K::Enter), ch('b'), key(K::Enter)}},
        {"\t{TAB}{del}", {key(K::Tab), key(K::Tab), key(K::Delete)}},
        {"{LEFT 3}", {key(K::Left), key(K::Left), key(K::Left)}},
        {"{x 2}{ENTER 0}{y 0}", {ch('x'), ch('x')}},
        // Inside braces the characters the notation interprets are typed as themselves.
        {"{+}{^}{%}{~}{(}{)}{{}{}}{[}{]}",
         {ch('+'), ch('^'), ch('%'), ch('~'), ch('('), ch(')'), ch('{'), ch('}'), ch('['), ch(']')}},
        {"{} 2}{ }", {ch('}'), ch('}'), ch(' ')}},
        {"+a^b%c", {ch('a', ModShift), ch('b', ModControl), ch('c', ModAlt)}},
        {"^+a+^b", {ch('a', kShiftCtrl), ch('b', kShiftCtrl)}},
        // A modifier holds for the whole group and not for what follows it.
        {"+(ab)c", {ch('a', ModShift), ch('b', ModShift), ch('c')}},
        {"%(^a b)", {ch('a', ModAlt | ModControl), ch(' ', ModAlt), ch('b', ModAlt)}},
        {"((a))()", {ch('a')}},
        {"+{TAB}^{a 2}%~",
         {key(K::Tab, ModShift), ch('a', ModControl), ch('a', ModControl), key(K::Enter, ModAlt)}},
        {"\xC3\xA9{\xE2\x82\xAC 2}", {ch(U'\u00E9'), ch(U'\u20AC'), ch(U'\u20AC')}},
        {"a{delay 1000}b{SLEEP 10000}{Sleep 0}",
         {ch('a'), KeyStroke::pacing(Pace::Delay, 1000), ch('b'), KeyStroke::pacing(Pace::Sleep, 10000),
          KeyStroke::pacing(Pace::Sleep, 0)}},
    };
    for (const auto& [text, strokes] : cases) {
        const NotationResult r = ParseNotation(text);
        EXPECT_TRUE(r.ok()) << text << ": " << (r.error ? r.error->reason : "");
        EXPECT_EQ(r.strokes, strokes) << text;
    }
    EXPECT_EQ(ParseNotation("{LEFT 10000}").strokes, KeyStrokes(kMaxRepeat, key(K::Left)));
}

// A bad line must not type the keys before its fault, so every failure comes without strokes.
// One case per kind of fault; positions count characters, not bytes.
TEST(Notation, RejectsBadTextWithoutAnyStrokes) {
    const std::pair<const char*, size_t> cases[] = {
        {"ab{FOO}", 2},
        {"ab{LEFT", 2},
        {"a{", 1},
        {"ab}", 2},
        {"ab)", 2},
        {"a(b(c)", 1},
        {"ab+", 2},
        {"(a^%)", 3},
        {"{LEFT 10001}", 6},
        {"{a 1x}", 3},
        {"{LEFT }", 6},
        {"a\nb", 1},
        {"\x7F", 0},
        {"\xC2\x85", 0},
        {"\xC3\xA9{FOO}", 1},
        {"ab\xFF", 2},
        {"a\xC0\x80", 1},
        {"x\xED\xA0\x80", 1},
        // A pause needs its milliseconds, within its limit, and takes no modifier.
        {"a{DELAY}", 1},
        {"{DELAY 1001}", 0},
        {"{SLEEP 20000}", 0},
        {"{DELAY x}", 0},
        {"+{SLEEP 5}", 1},
    };
    for (const auto& [text, position] : cases) {
        const NotationResult r = ParseNotation(text);
        ASSERT_FALSE(r.ok()) << text;
        EXPECT_TRUE(r.strokes.empty()) << text;
        EXPECT_EQ(r.error->position, position) << text;
        EXPECT_FALSE(r.error->reason.empty()) << text;
    }
}

TEST(Notation, KeyNamesIgnoreCaseAndHaveAliases) {
    using K = NamedKey;
    const std::pair<const char*, K> names[] = {
        {"backspace", K::Backspace},
        {"BS", K::Backspace},
        {"Bksp", K::Backspace},
        {"pgdn", K::PageDown},
        {"PgUp", K::PageUp},
        {"prtsc", K::PrintScreen},
        {"Esc", K::Esc},
        {"MULTIPLY", K::Multiply},
        {"f1", K::F1},
        {"F16", K::F16},
    };
    for (const auto& [name, k] : names)
        EXPECT_EQ(NamedKeyFromName(name), k) << name;
    for (const char* unknown : {"", "F0", "F17", "DE", "DELX", "PG DN", "a"})
        EXPECT_FALSE(NamedKeyFromName(unknown).has_value()) << unknown;
}

// The reason for escaping: a line with parentheses is typed as written, not grouped. Nothing else
// in the line changes.
TEST(EscapeParentheses, EscapesEveryParenthesisAndNothingElse) {
    const std::pair<const char*, const char*> cases[] = {
        {"a(b)c", "a{(}b{)}c"}, {")(", "{)}{(}"}, {"{DEL}x~+", "{DEL}x~+"}, {"\xC3\xA9(", "\xC3\xA9{(}"}};
    for (const auto& [in, out] : cases)
        EXPECT_EQ(EscapeParentheses(in), out) << in;
}

} // namespace
