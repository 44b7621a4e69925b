// Typing ahead: a press's line started before its playback runs leaves exactly what playback alone
// would have typed, with the same results, messages and cursor; and the thread that reads ahead
// runs only while the UI thread waits, which waits for it in turn.
#include "engine/typeahead.h"
#include "platform/readahead.h"
#include "views.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <sys/ioctl.h>
#include <unistd.h>

namespace kq {
namespace {

struct Sink : KeystrokeSink {
    std::vector<KeyStrokes> sends;
    bool refuse = false;
    bool send(const KeyStrokes& strokes) override {
        sends.push_back(strokes);
        return !refuse;
    }
};

struct Ui : UserInterface {
    int messages = 0;
    void YieldEvents() override {}
    Answer ShowMessage(std::string_view, MessageKind, std::string_view) override {
        return ++messages, Answer::Ok;
    }
};

struct Rig {
    MacroState state;
    test::ListModel list;
    test::RowsModel rows;
    Sink sink;
    TypeAhead ahead{sink};
    Ui ui;
    Playback playback{state, list, rows, ahead, ui};

    explicit Rig(std::vector<std::string> lines) {
        list.state = &state, list.playback = &playback;
        list.load(std::move(lines));
    }
    // A press of the single list's key (row -1) or of a slot row's; returns the sends typed ahead.
    size_t press(int16_t row, bool typeAhead) {
        const HotkeyDecision d{Verdict::Swallow, HotkeyAction::Playback,
                               row < 0 ? ModeSingleList : ModeMultiSlot, row};
        size_t typedAhead = 0;
        if (typeAhead) {
            auto texts = row < 0 ? playback.NextCommandTexts() : playback.NextCommand2Texts(row);
            if (texts) ahead.prepare({{d.mode, d.functionKey, *texts}});
            ahead.typeFor(d);
            typedAhead = sink.sends.size();
        }
        row < 0 ? playback.NextCommand() : playback.NextCommand2(row);
        ahead.endPress();
        return typedAhead;
    }
};

TEST(TypeAhead, LeavesWhatPlaybackAloneTypes) {
    struct Case {
        std::vector<std::string> lines; // the single list, or row 3's text when `row` is set
        int16_t row, autoBackspace;
        bool addEnter, refuse;
        size_t typedAhead; // sends made before playback ran
    };
    const Case cases[] = {
        {{"ab", "cd"}, -1, 1, false, false, 2}, // Delete, then the line
        {{"ab"}, -1, 0, true, false, 1},
        {{"a{b"}, -1, 1, false, false, 1},          // the line does not parse: playback's message
        {{"ab{DELAY 1}c"}, -1, 0, false, false, 0}, // paced: left to playback
        {{"ab"}, -1, 1, false, true, 1},            // refused: stops where playback stops
        {{"xy"}, 3, 0, true, false, 1},
        {{"xy"}, -2, 0, false, false, 0}, // row 3 typed while row 3 is not enabled
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.lines[0] << " row " << c.row << " refuse " << c.refuse);
        Rig plain(c.lines), ahead(c.lines);
        for (Rig* rig : {&plain, &ahead}) {
            rig->list.autoBackspace = c.autoBackspace, rig->list.addEnter = c.addEnter;
            rig->sink.refuse = c.refuse;
            rig->rows.enabled[3] = c.row == 3, rig->rows.addEnter[3] = c.addEnter,
            rig->rows.text[3] = c.lines[0];
        }
        const int16_t row = c.row < -1 ? 3 : c.row;
        for (int n = 0; n < 2; ++n) { // twice: the second press types what the first left next
            plain.press(row, false);
            const size_t typedAhead = ahead.press(row, true);
            if (n == 0) {
                EXPECT_EQ(typedAhead, c.typedAhead);
            }
            EXPECT_EQ(ahead.sink.sends, plain.sink.sends);
            EXPECT_EQ(ahead.ui.messages, plain.ui.messages);
            EXPECT_EQ(ahead.state.CommandIndex, plain.state.CommandIndex);
        }
    }
}

TEST(TypeAhead, TypesOnlyThePreparedPressAndOnlyOnce) {
    Sink sink;
    TypeAhead ahead(sink);
    const HotkeyDecision f2{Verdict::Swallow, HotkeyAction::Playback, ModeMultiSlot, 1};
    const HotkeyDecision f3{Verdict::Swallow, HotkeyAction::Playback, ModeMultiSlot, 2};
    ahead.prepare({{ModeMultiSlot, 1, {"a"}}});
    ahead.typeFor(f3);
    EXPECT_TRUE(sink.sends.empty());
    ahead.typeFor(f2);
    ahead.typeFor(f2); // a second press before the UI thread prepared again is left to playback
    EXPECT_EQ(sink.sends, (std::vector<KeyStrokes>{{KeyStroke::character(U'a')}}));
    EXPECT_TRUE(ahead.send({KeyStroke::character(U'a')})); // playback's send: taken, not typed again
    EXPECT_EQ(sink.sends.size(), 1u);
    ahead.endPress();
    EXPECT_TRUE(ahead.send({KeyStroke::character(U'b')})); // after the press: typed
    EXPECT_EQ(sink.sends.size(), 2u);
}

TEST(ReadAhead, ReadsOnlyWhileTheUiThreadWaitsWhichWaitsForIt) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::atomic<bool> uiWaiting{false}, release{false};
    std::atomic<int> outsideWait{0};
    std::promise<void> first, second;
    int reads = 0;
    {
        ReadAhead reader(pipeFds[0], [&] {
            char c = 0;
            EXPECT_EQ(read(pipeFds[0], &c, 1), 1);
            if (!uiWaiting) ++outsideWait;
            if (++reads == 1) return first.set_value(), false;
            second.set_value();
            while (!release)
                std::this_thread::yield();
            if (!uiWaiting) ++outsideWait; // the UI thread came back before this ended
            return false;
        });
        ASSERT_EQ(write(pipeFds[1], "a", 1), 1); // the UI thread runs: not read yet
        uiWaiting = true;
        reader.waiting(true);
        first.get_future().wait();
        ASSERT_EQ(write(pipeFds[1], "b", 1), 1);
        second.get_future().wait();
        std::thread releaser([&] { release = true; });
        reader.waiting(false);
        uiWaiting = false;
        releaser.join();
    }
    close(pipeFds[0]), close(pipeFds[1]);
    EXPECT_EQ(reads, 2);
    EXPECT_EQ(outsideWait, 0);
}

// Once it has handed work to the UI thread, the thread leaves what the socket brings next to it
// until the UI thread has waited again; then it reads on.
TEST(ReadAhead, AfterHandingOverWaitsForTheUiThreadsNextWait) {
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    std::promise<void> first, second;
    int reads = 0;
    {
        ReadAhead reader(pipeFds[0], [&] {
            char c = 0;
            EXPECT_EQ(read(pipeFds[0], &c, 1), 1);
            if (++reads == 1) {
                EXPECT_EQ(write(pipeFds[1], "b", 1), 1); // there before this returns
                first.set_value();
                return true;
            }
            second.set_value();
            return false;
        });
        ASSERT_EQ(write(pipeFds[1], "a", 1), 1);
        reader.waiting(true);
        first.get_future().wait();
        // The UI thread is slow to wake: a thread that read on would have read "b" by now (no
        // correct one ever does, however long this takes).
        for (int i = 0; i < 10000; ++i)
            std::this_thread::yield();
        reader.waiting(false); // the UI thread wakes for what was handed over
        int unread = 0;
        ASSERT_EQ(ioctl(pipeFds[0], FIONREAD, &unread), 0);
        EXPECT_EQ(unread, 1) << "read while the UI thread had not yet taken over";
        reader.waiting(true);
        second.get_future().wait();
        reader.waiting(false);
    }
    close(pipeFds[0]), close(pipeFds[1]);
    EXPECT_EQ(reads, 2);
}

} // namespace
} // namespace kq
