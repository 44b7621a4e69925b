#include "files/commandlist.h"
#include "files/conversions.h"
#include "files/settingsfile.h"
#include "files/slotsetfile.h"
#include "files/slotstore.h"
#include "files/textcodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include <csignal>
#include <sys/resource.h>
#include <unistd.h>

using namespace kq;
namespace fs = std::filesystem;

namespace {

using Lines = std::vector<std::string>;

class FileTest : public ::testing::Test {
protected:
    void SetUp() override {
        m_dir = fs::temp_directory_path() / ("kq_unit_" + std::to_string(::getpid()) + "_" +
                                             ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(m_dir);
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string path(const std::string& name) const { return (m_dir / name).string(); }
    std::string put(const std::string& name, const std::string& bytes) const {
        EXPECT_TRUE(WriteFileBytes(path(name), bytes));
        return path(name);
    }
    std::string bytesOf(const std::string& name) const { return ReadFileBytes(path(name)).value_or("?"); }

    fs::path m_dir;
};

// With a CR anywhere a lone LF stays inside its line, as the list's own writer expects; a file
// without any CR is a Unix text file whose LFs end lines.
TEST(CommandList, SplitsAtCrAndCrLfButNotLoneLfUnlessNoCrAtAll) {
    const std::pair<std::string, Lines> cases[] = {
        {"", {}},
        {"a\r\nb\rc", {"a", "b", "c"}},
        {"a\nb\r\n", {"a\nb"}},
        {"\r\r\n\r", {"", "", ""}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\nb", {"a", "", "b"}},
        {"\xEF\xBB\xBFonly\n", {"\xEF\xBB\xBFonly"}}, // the BOM goes when decoding, see below
    };
    for (const auto& [text, lines] : cases)
        EXPECT_EQ(SplitFileLines(text), lines) << text;
}

TEST(CommandList, ParseKeepsSkipsAndRefusesLines) {
    using St = CommandListStatus;
    const std::tuple<std::string, Lines, St> cases[] = {
        // A tab-only line is not blank (only spaces count), so it survives as an empty command.
        {"one\r\n   \r\n\t\t\r\n\r\nt\tw\to \r\n  lead", {"one", "", "two ", "  lead"}, St::Ok},
        {"a\r\nb\r\nx\x08\x04y\r\nc\r\n", {"a", "b"}, St::BadFormat},
        // Either byte alone, or the pair the other way round, is ordinary text.
        {"x\x08y\x04z\r\n\x04\x08", {"x\x08y\x04z", "\x04\x08"}, St::Ok},
    };
    for (const auto& [text, lines, status] : cases) {
        const CommandListRead r = ParseCommandList(text);
        EXPECT_EQ(r.lines, lines) << text;
        EXPECT_EQ(r.status, status) << text;
    }
    std::string full;
    for (int i = 0; i < kMaxListLines; ++i)
        full += "x\r\n";
    EXPECT_EQ(ParseCommandList(full).status, St::Ok);
    const CommandListRead over = ParseCommandList(full + "y\r\n");
    EXPECT_EQ(over.status, St::TooLong);
    EXPECT_EQ(over.lines.size(), static_cast<size_t>(kMaxListLines));
}

TEST(CommandList, TxtExtensionIsCaseSensitive) {
    const std::pair<const char*, const char*> cases[] = {
        {"list", "list.txt"},           {"list.txt", "list.txt"}, {"list.TXT", "list.TXT.txt"},
        {"a.txt.bak", "a.txt.bak.txt"}, {"txt", "txt.txt"},       {".txt", ".txt"},
    };
    for (const auto& [in, out] : cases)
        EXPECT_EQ(WithTxtExtension(in), out) << in;
}

TEST_F(FileTest, CommandListWriteThenRead) {
    std::string target = path("list");
    ASSERT_TRUE(WriteCommandList({"a", "", "   ", "b\tc", "(x),y"}, target));
    EXPECT_EQ(target, path("list.txt"));
    EXPECT_EQ(bytesOf("list.txt"), "a\r\n\r\n   \r\nb\tc\r\n(x),y\r\n");
    const CommandListRead r = ReadCommandList(target);
    EXPECT_EQ(r.status, CommandListStatus::Ok);
    EXPECT_EQ(r.lines, (Lines{"a", "bc", "(x),y"}));

    const CommandListRead missing = ReadCommandList(path("nothing.txt"));
    EXPECT_EQ(missing.status, CommandListStatus::OpenFailed);
    EXPECT_TRUE(missing.lines.empty());
    std::string bad = path("no/such/dir/list");
    EXPECT_FALSE(WriteCommandList({"a"}, bad));
    EXPECT_EQ(ReadCommandList(put("unix.txt", "\xEF\xBB\xBFone\ntwo\n")).lines, (Lines{"one", "two"}));
    // A first item that starts with U+FEFF is not taken for a byte order mark when read back.
    std::string marked = path("marked");
    ASSERT_TRUE(WriteCommandList({"\xEF\xBB\xBFx", "y"}, marked));
    EXPECT_EQ(ReadCommandList(marked).lines, (Lines{"\xEF\xBB\xBFx", "y"}));
}

// A save that fails half-way (here: the file size limit, as a full disk would) leaves the old
// file whole and no temporary file behind.
TEST_F(FileTest, FailedSaveKeepsTheOldFile) {
    std::string list = put("list.txt", "good\r\n");
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = before;
    small.rlim_cur = 64;
    setrlimit(RLIMIT_FSIZE, &small);
    const bool saved = WriteCommandList(Lines(100, "a line longer than the limit"), list);
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, ignored);
    EXPECT_FALSE(saved);
    EXPECT_EQ(bytesOf("list.txt"), "good\r\n");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_dir), fs::directory_iterator()), 1);
}

TEST(TextCodec, Utf8WhenValidElseWindows1252ForTheWholeFile) {
    const std::pair<std::string, std::string> cases[] = {
        {"caf\xC3\xA9", "caf\xC3\xA9"},
        {"\xEF\xBB\xBFhi", "hi"},
        {"caf\xE9", "caf\xC3\xA9"},
        {"\x80\x9F", "\xE2\x82\xAC\xC5\xB8"},
        {"\x81\x8D", "\xC2\x81\xC2\x8D"},             // the code page's holes keep their C1 meaning
        {"\xC3\xA9\xE9", "\xC3\x83\xC2\xA9\xC3\xA9"}, // one bad byte decides for the whole file
        {"\xC0\x80", "\xC3\x80\xE2\x82\xAC"},         // overlong forms and surrogates are not UTF-8
        {"\xED\xA0\x80", "\xC3\xAD\xC2\xA0\xE2\x82\xAC"},
    };
    for (const auto& [bytes, text] : cases)
        EXPECT_EQ(DecodeFileText(bytes), text) << bytes;
}

TEST(Conversions, NumbersRoundHalfToEvenOrDownAndCheckRange) {
    using Int = std::optional<int16_t>;
    const auto no = std::nullopt;
    // Text, then what ToLong, ToInteger and FloorToInteger make of it.
    const std::tuple<const char*, std::optional<int32_t>, Int, Int> cases[] = {
        {" +42 ", 42, 42, 42},
        {"255.5", 256, 256, 255},
        {"254.5", 254, 254, 254},
        {"-2.5", -2, -2, -3},
        {"128.7", 129, 129, 128},
        {"1e3", 1000, 1000, 1000},
        {"32767.5", 32768, no, 32767},
        {"-32768.5", -32768, -32768, no},
        {"-2147483648", INT32_MIN, no, no},
        {"2147483647.5", no, no, no},
        {"", no, no, no},
        {"12a", no, no, no},
        {"1 2", no, no, no}};
    for (const auto& [text, toLong, toInteger, floor] : cases) {
        EXPECT_EQ(ToLong(text), toLong) << text;
        EXPECT_EQ(ToInteger(text), toInteger) << text;
        EXPECT_EQ(FloorToInteger(text), floor) << text;
    }
}

TEST(Conversions, BooleanWordsInAnyCaseOrNumbers) {
    const auto no = std::nullopt;
    const std::pair<const char*, std::optional<bool>> cases[] = {
        {"True", true}, {"FALSE", false}, {"tRuE", true}, {"0", false},  {"-1", true}, {"2.5", true},
        {"0.0", false}, {"", no},         {"yes", no},    {"Truth", no}, {"T", no},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(ToBoolean(text), value) << text;
}

class RecordingTarget : public SettingsTarget {
public:
    void ApplyColour(int32_t c, std::string_view which) override { add(std::string(which) + "=", c); }
    void SetBackgroundBar(int i, int v) override { add("bg" + std::to_string(i) + "=", v); }
    void SetTextBar(int i, int v) override { add("text" + std::to_string(i) + "=", v); }
    void CheckTransparent() override { log.push_back("check"); }
    bool SetTransparencyBar(int16_t v) override {
        add("bar=", v);
        return v >= 30 && v <= 255; // the scroll bar's range
    }
    void MakeWindowsTransparent(int16_t v) override { add("alpha=", v); }
    Lines log;

private:
    void add(const std::string& what, int v) { log.push_back(what + std::to_string(v)); }
};

// The colour applied, then its red, green and blue bytes put on the three bars.
Lines colourSteps(const std::string& w, int32_t c, int r, int g, int b) {
    const auto s = [](int v) { return std::to_string(v); };
    return {w + "=" + s(c), w + "0=" + s(r), w + "1=" + s(g), w + "2=" + s(b)};
}
Lines operator+(Lines a, const Lines& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(FileTest, SettingsLoadStepsAndFailurePaths) {
    // A failure applies the default colours over whatever the interrupted steps already did.
    const Lines defaults{"bg=13137920", "text=16777215"};
    const Lines bg255 = colourSteps("bg", 255, 255, 0, 0), colours = bg255 + colourSteps("text", 0, 0, 0, 0);
    const Lines alpha128{"check", "bar=128", "alpha=128"}, on128 = colours + alpha128;
    const std::tuple<const char*, bool, Lines> cases[] = {
        // content nullptr: no file at all
        {"255 0 1 128\r\n", true, on128},
        {nullptr, false, defaults},
        {"", false, defaults},
        {"255 65280\r\n", false, bg255 + colourSteps("text", 65280, 0, 255, 0) + defaults},
        {"255 0 0 128\r\n", true, colours},
        {"255 0 1\r\n", false, colours + Lines{"check"} + defaults},
        {"255 0 1 20\r\n", false, colours + Lines{"check", "bar=20"} + defaults},
        {"255 0 abc 128\r\n", false, colours + defaults},
        {"1 2 0 0\r\n255 0 1 128\r\n", true, on128},
        {"255.5 13137920 1 128.7\r\n", true,
         colourSteps("bg", 256, 0, 1, 0) + colourSteps("text", 13137920, 0, 120, 200) + alpha128},
        {"255  0 0 0\r\n", false, bg255 + defaults},
        {"\"255 0 1 128\"\r\n", true, on128},
        {"255 0 1 128 junk\r\n", true, on128},
    };
    for (const auto& [content, ok, log] : cases) {
        RecordingTarget target;
        EXPECT_EQ(LoadSettings(content ? put("config.ini", content) : path("absent.ini"), target), ok)
            << (content ? content : "no file");
        EXPECT_EQ(target.log, log) << (content ? content : "no file");
    }
}

TEST_F(FileTest, SettingsWriteIsOneLine) {
    EXPECT_EQ(FormatSettings(-1, 0, 1, 30), "-1 0 1 30\r\n");
    const std::string file = put("config.ini", "1 2 0 0\r\n3 4 0 0\r\nmore\r\n");
    ASSERT_TRUE(WriteSettingsFile(file, 13137920, 16777215, 0, 215));
    EXPECT_EQ(bytesOf("config.ini"), "13137920 16777215 0 215\r\n");
    std::string error;
    EXPECT_FALSE(WriteSettingsFile(path("no/such/config.ini"), 0, 0, 0, 30, &error));
    EXPECT_FALSE(error.empty());
}

TEST(SlotStore, StoreKeepsTrailingBlanksRowsLoseThem) {
    SlotStore store;
    SlotRows rows;
    rows[0] = {1, 2, "x  "};
    rows[1] = {2, 1, "  lead \t "};
    rows[2] = {0, 0, "   "};
    store.storeRows(3, rows);
    EXPECT_EQ(store.SlotCommand(3, 1), "x  ");
    // Only the value 1 is a ticked box: a greyed box (2) comes back unticked.
    const SlotRows back = store.rowsFor(3);
    EXPECT_EQ(back[0], (SlotRow{1, 0, "x"}));
    EXPECT_EQ(back[1], (SlotRow{0, 1, "  lead \t"}));
    EXPECT_EQ(back[2], (SlotRow{0, 0, ""}));
    EXPECT_EQ(store.rowsFor(4), SlotRows{});
    const std::pair<int, int> outside[] = {{0, 1}, {13, 1}, {1, 0}, {1, 13}};
    for (const auto& [c, s] : outside)
        EXPECT_THROW(store.SlotCommand(c, s), std::out_of_range) << c << "," << s;
}

void setSlot(SlotStore& st, int c, int s, bool enabled, bool addEnter, const std::string& command) {
    st.SlotEnabled(c, s) = enabled;
    st.SlotAddEnter(c, s) = addEnter;
    st.SlotCommand(c, s) = command;
}

TEST(SlotSetFile, SerializesAllSlotsInConfigOrder) {
    SlotStore store;
    setSlot(store, 1, 1, true, true, "a,b");
    setSlot(store, 2, 1, false, false, "x,,y ");
    setSlot(store, 12, 12, true, false, "last");
    // Config 1 (slot 1 set, eleven untouched slots), then config 2 slot 1.
    std::string head = "True\rTrue\ra\x08"
                       "b\r";
    for (int s = 2; s <= 12; ++s)
        head += "False\rFalse\r\r";
    head += "False\rFalse\rx\x08\x08y \r";
    const std::string text = SerializeSlotSet(store), tail = "True\rFalse\rlast\r\r\n";
    ASSERT_GE(text.size(), head.size() + tail.size());
    EXPECT_EQ(text.substr(0, head.size()), head);
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 432 + 1); // a CR per field, then CR LF
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
}

SlotStore junkStore() {
    SlotStore store;
    for (int c = 1; c <= kConfigCount; ++c)
        for (int s = 1; s <= kSlotCount; ++s)
            setSlot(store, c, s, true, true, "junk");
    return store;
}

TEST_F(FileTest, SlotSetRoundTripAndReadFailures) {
    SlotStore store;
    setSlot(store, 1, 1, true, false, "a,b");
    setSlot(store, 5, 7, false, true, ",lead, trail,  ");
    setSlot(store, 7, 3, false, false, "  two  blanks ");
    setSlot(store, 9, 2, false, false, "\"quoted\" {ENTER}(x)");
    setSlot(store, 12, 12, true, true, "caf\xC3\xA9,");
    ASSERT_TRUE(WriteSlotSetFile(path("set.txt"), store));
    SlotStore loaded = junkStore();
    ASSERT_TRUE(ReadSlotSetFile(path("set.txt"), loaded));
    EXPECT_TRUE(loaded == store);

    EXPECT_FALSE(ReadSlotSetFile(path("absent.txt"), loaded));
    EXPECT_TRUE(loaded == store);
    // A set saved by Windows tools is in the ANSI code page.
    ASSERT_TRUE(ReadSlotSetFile(put("w.txt", "True\rFalse\rcaf\xE9\x08x\rTrue\rTrue"), loaded));
    EXPECT_EQ(loaded.SlotCommand(1, 1), "caf\xC3\xA9,x");
    EXPECT_TRUE(loaded.SlotEnabled(1, 2) && loaded.SlotAddEnter(1, 2));
    EXPECT_EQ(loaded.SlotCommand(5, 7), store.SlotCommand(5, 7));
}

// A short or bad file assigns slot by slot up to the failing field; all else keeps its old value.
TEST(SlotSetFile, ShortAndBadFiles) {
    using Expect = std::function<void(SlotStore&)>; // turns the junk store into the expected one
    const Expect nothing = [](SlotStore&) {};
    const std::tuple<std::string, bool, Expect> cases[] = {
        {"True\r\nFalse\r\n", true, [](SlotStore& st) { setSlot(st, 1, 1, true, false, ""); }},
        {"False\r\nTrue\r\ncmd\r\n", false, [](SlotStore& st) { setSlot(st, 1, 1, false, true, "cmd"); }},
        {"", false, nothing},
        {"\r\n", false, nothing},
        {"Maybe\r\nFalse\r\nx\r\n", false, nothing},
        {"False\r", false, [](SlotStore& st) { st.SlotEnabled(1, 1) = false; }},
        {"True\rTrue\rx\rFalse\r", false,
         [](SlotStore& st) { setSlot(st, 1, 1, true, true, "x"), st.SlotEnabled(1, 2) = false; }},
        {"True,False,hello\r\nFalse,True\r\n", true,
         [](SlotStore& st) { setSlot(st, 1, 1, true, false, "hello"), setSlot(st, 1, 2, false, true, ""); }},
        {"-1\r0\ra\x08"
         "b\rfalse\rTRUE",
         true,
         [](SlotStore& st) { setSlot(st, 1, 1, true, false, "a,b"), setSlot(st, 1, 2, false, true, ""); }},
        {SerializeSlotSet(SlotStore{}) + "True\rTrue\rextra\r", true, [](SlotStore& st) { st.clear(); }},
    };
    for (const auto& [text, ok, expect] : cases) {
        SlotStore store = junkStore(), expected = junkStore();
        expect(expected);
        EXPECT_EQ(ParseSlotSet(text, store), ok) << text;
        EXPECT_TRUE(store == expected) << text;
    }
}

} // namespace
