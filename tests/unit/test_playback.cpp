// Playback: what one press types, and how the single list's cursor moves and wraps.
#include "engine/playback.h"
#include "views.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <tuple>
#include <vector>

namespace kq {

static void PrintTo(const KeyStroke& k, std::ostream* os) { // readable failures
    *os << (k.named ? "key " : "U+") << (k.named ? int(k.key) : int(k.ch)) << "/" << int(k.modifiers);
}

namespace {

struct RecordingSink : KeystrokeSink {
    std::vector<KeyStrokes> sends; // one entry per send call
    bool refuse = false;
    bool send(const KeyStrokes& strokes) override {
        if (!refuse) sends.push_back(strokes);
        return !refuse;
    }
    KeyStrokes typed() const {
        KeyStrokes all;
        for (const auto& s : sends)
            all.insert(all.end(), s.begin(), s.end());
        return all;
    }
};

// Message boxes as "title|kind|text".
const std::string kIllegal = "Keyquill|critical|This is usually due to illegal characters within the config";

struct FakeUi : UserInterface {
    std::vector<std::string> messages;
    void YieldEvents() override {}
    Answer ShowMessage(std::string_view text, MessageKind kind, std::string_view title) override {
        messages.push_back(std::string(title) + (kind == MessageKind::Critical ? "|critical|" : "|other|") +
                           std::string(text));
        return Answer::Ok;
    }
};

const KeyStroke kDel = KeyStroke::namedKey(NamedKey::Delete), kEnter = KeyStroke::namedKey(NamedKey::Enter);

KeyStrokes keys(std::u32string_view chars, std::vector<KeyStroke> then = {}) {
    KeyStrokes out;
    for (char32_t c : chars)
        out.push_back(KeyStroke::character(c));
    out.insert(out.end(), then.begin(), then.end());
    return out;
}

struct Rig {
    MacroState state;
    test::ListModel list;
    test::RowsModel rows;
    RecordingSink sink;
    FakeUi ui;
    Playback playback{state, list, rows, sink, ui};

    explicit Rig(std::vector<std::string> lines = {}) {
        list.state = &state, list.playback = &playback;
        list.load(std::move(lines));
    }
    // A hotkey press: the key-down types, the key-up selects line CommandIndex.
    void press() { playback.NextCommand(), list.SelectLine(state.CommandIndex); }
};

TEST(SingleListPlayback, TextOfOnePress) {
    const KeyStroke tab = KeyStroke::namedKey(NamedKey::Tab);
    // The Delete box's value, Add Enter and the line, then the keys of each send, in order.
    const std::tuple<int16_t, bool, std::string, std::vector<KeyStrokes>> cases[] = {
        {0, false, "ab", {keys(U"ab")}},
        {1, false, "ab", {{kDel}, keys(U"ab")}}, // Delete is a send of its own, before the line
        {2, false, "ab", {keys(U"ab")}},         // a greyed box is not ticked
        {1, true, "ab", {{kDel}, keys(U"ab", {kEnter})}},
        {0, false, "a(b)c", {keys(U"a(b)c")}},
        {0, true, "", {{kEnter}}},
        {0, false, "x{TAB 2}é", {keys(U"x", {tab, tab, KeyStroke::character(U'é')})}}, // braces name keys
        // Under a delay every key is sent alone; a pause ends a run.
        {0,
         true,
         "ab{DELAY 1}cd{DELAY 0}ef{SLEEP 1}g",
         {keys(U"ab"), keys(U"c"), keys(U"d"), keys(U"ef"), keys(U"g", {kEnter})}},
    };
    for (const auto& [autoBackspace, addEnter, line, sends] : cases) {
        SCOPED_TRACE(testing::Message() << line << " auto " << autoBackspace << " enter " << addEnter);
        Rig rig({line});
        rig.list.autoBackspace = autoBackspace, rig.list.addEnter = addEnter;
        rig.press();
        EXPECT_EQ(rig.sink.sends, sends);
        EXPECT_TRUE(rig.ui.messages.empty());
    }
}

// Playback types from the working copy; edits reach it through a rebuild, which the list's edit
// handler asks for and which the wrap after the last line does in any case.
TEST(SingleListPlayback, AdvancesAndWrapsToARebuiltCopy) {
    Rig rig({"A", "B", "C"});
    rig.press();
    rig.list.edit(1, "B2");
    rig.playback.InitiateMacro(2);
    rig.press();
    EXPECT_EQ(rig.list.selected, 2);
    rig.list.edit(0, "Z");
    rig.playback.NextCommand(); // the last line: wraps within the same press, before any key-up
    EXPECT_EQ(rig.state.CommandIndex, 0);
    EXPECT_EQ(rig.list.selected, 0);
    EXPECT_EQ(rig.state.Commands, (std::vector<std::string>{"Z", "B2", "C"}));
    rig.press();
    EXPECT_EQ(rig.sink.typed(), keys(U"AB2CZ"));
}

TEST(SingleListPlayback, OneLineListTypesTheSameLineEveryPress) {
    Rig rig({"go"});
    const int clicks = rig.list.clicks;
    for (int n = 0; n < 3; ++n)
        rig.press();
    EXPECT_EQ(rig.sink.sends, (std::vector<KeyStrokes>(3, keys(U"go"))));
    EXPECT_EQ(rig.state.CommandIndex, 0);
    EXPECT_EQ(rig.list.clicks, clicks); // the selection never moves
}

TEST(SingleListPlayback, FailingLineIsSkippedWithOneMessage) {
    // "x)y{" escapes to "x{)}y{": an unclosed brace on the last line, so skipping it wraps.
    Rig rig({"one", "a{b", "three", "x)y{"});
    rig.list.autoBackspace = 1;
    for (int n = 0; n < 5; ++n)
        rig.press();
    // The Delete of a failing press was already typed and stays; nothing of the line is typed.
    const KeyStrokes one = keys(U"one"), three = keys(U"three"), del = {kDel};
    EXPECT_EQ(rig.sink.sends, (std::vector<KeyStrokes>{del, one, del, del, three, del, del, one}));
    EXPECT_EQ(rig.ui.messages, (std::vector{kIllegal, kIllegal}));
    EXPECT_EQ(rig.state.CommandIndex, 1);

    rig.sink.refuse = true; // the platform could not type the keys: same message, line skipped too
    rig.press();
    EXPECT_EQ(rig.ui.messages, std::vector(3, kIllegal));
    EXPECT_EQ(rig.state.CommandIndex, 2);
}

// The copy needs room for every line and a line to select; room beyond the lines starts empty.
TEST(SingleListPlayback, InitiateMacroNeedsRoomForEveryLineAndOneToSelect) {
    Rig rig;
    rig.list.selected = 0; // already selected, so the click handler does not rebuild over the result
    EXPECT_THROW(rig.playback.InitiateMacro(-1), PlaybackError);
    rig.list.lines = {"a", "b", "c"};
    EXPECT_THROW(rig.playback.InitiateMacro(1), PlaybackError);
    rig.playback.InitiateMacro(2);
    EXPECT_EQ(rig.state.Commands, rig.list.lines);
    rig.list.lines = {"a"};
    rig.playback.InitiateMacro(2);
    EXPECT_EQ(rig.state.Commands, (std::vector<std::string>{"a", "", ""}));
}

TEST(SlotPlayback, TypesTheRowOfTheKeyWhenEnabled) {
    struct Case {
        int16_t enabled, addEnter;
        std::string text;
        KeyStrokes typed;
        size_t messages = 0;
        bool refuse = false;
    };
    const std::vector<Case> cases = {
        {0, 1, "abc", {}},
        {2, 1, "abc", {}}, // only exactly 1 counts as ticked
        {1, 1, "", {kEnter}},
        {1, 0, "", {}},
        {1, 0, "(a)", keys(U"(a)")},
        {1, 2, "x", keys(U"x")},
        {1, 1, "x", keys(U"x", {kEnter})},
        {1, 1, "a{b", {}, 1},     // unparseable
        {1, 0, "x", {}, 1, true}, // the platform refuses the keys
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        const Case& c = cases[i];
        const size_t row = (i * 5) % 12; // spread over the rows; every other row would type "wrong"
        SCOPED_TRACE(testing::Message() << "case " << i << " row " << row);
        Rig rig;
        rig.list.autoBackspace = 1, rig.sink.refuse = c.refuse; // no Delete before a slot's line
        rig.rows.enabled.fill(1), rig.rows.text.fill("wrong");
        rig.rows.enabled[row] = c.enabled, rig.rows.addEnter[row] = c.addEnter, rig.rows.text[row] = c.text;
        rig.playback.NextCommand2(static_cast<int16_t>(row));
        EXPECT_EQ(rig.sink.typed(), c.typed);
        EXPECT_EQ(rig.ui.messages, std::vector<std::string>(c.messages, kIllegal));
    }
}

} // namespace
} // namespace kq
