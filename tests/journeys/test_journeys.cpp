// One table of journeys, each run against the real Keyquill on every desktop it serves (X11,
// sway, KWin, a wlroots compositor whose own bindings run the command-line trigger, labwc, GNOME
// with Keyquill's extension and without it, through the portals): a list loaded and
// enabled (or rows of the multi-slot window filled), the user's keys pressed, and what a real client
// received.
#include "backend.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace kq::e2e;

namespace {

constexpr int kTab = 15;

const std::string kAscii =
    " !\"#$%&'()*+,-./0123456789:;<=>?@ABCDEFGHIJKLMNOPQRSTUVWXYZ[\\]^_`abcdefghijklmnopqrstuvwxyz{|}~";

struct Row {
    int index;
    std::string text;
    bool enter;
};

struct Journey {
    const char* name;
    std::vector<std::string> list; // in the key notation; empty: the multi-slot rows instead
    std::vector<std::string> keys; // the user's keyboard by evdev code: "tap N", "down N", "up N", "hold N"
    Client client;
    std::string expected; // the text received, or for the recorder its presses and releases
    std::vector<Row> rows = {};
    bool untick = false; // "Enabled" unticked again before the keys
};

const std::vector<Journey>& journeys() {
    using enum Client;
    static const std::vector<Journey> all{
        {"EachLineArrivesExactly",
         {literal(kAscii), "é ü ß €", "→ 日本語 😀", "one two+{LEFT}+{LEFT}+{LEFT}Z"},
         {"tap 15", "tap 15", "tap 15", "tap 15"},
         Qt,
         kAscii + "é ü ß €→ 日本語 😀one Z"},
        {"FunctionKeysTypeTheirRowsAndNoneReachesTheClient",
         {},
         {"tap 59", "tap 60", "tap 61", "tap 62", "tap 63", "tap 64", "tap 65", "tap 66", "tap 67", "tap 68",
          "tap 87", "tap 88"}, // F1..F12
         Qt,
         "echo €, (two)twelfth\n",
         {{0, "echo €, (two)", false}, {11, "twelfth", true}}},
        {"AHeldKeyTypesOneLine", {"one", "two"}, {"hold 15"}, Qt, "one"},
        {"NeitherPressNorReleaseOfTheBoundKeyReachesTheClient", {"x"}, {"tap 15"}, Recorder, "P x\nR x\n"},
        {"UntickedTheBoundKeyReachesTheClient", {"x"}, {"tap 15"}, Recorder, "P Tab\nR Tab\n", {}, true},
    };
    return all;
}

struct Case {
    Desk desktop;
    const Journey* journey;
};

class Journeys : public BackendE2E, public ::testing::WithParamInterface<Case> {
protected:
    Backend& backend() const override { return TheDesktop(GetParam().desktop); }

    void prepare(const Journey& j) {
        if (!j.list.empty()) {
            ASSERT_NO_FATAL_FAILURE(loadList(j.list, true));
        } else {
            const Window multi = ui.openMultiSlot(mainWindow);
            ASSERT_NE(multi, 0u);
            for (const Row& r : j.rows)
                ASSERT_TRUE(ui.fillRow(multi, r.index, r.text, r.enter));
            ASSERT_TRUE(backend().waitBound(true));
        }
        if (j.untick) {
            ui.clickEnabled(mainWindow);
            ASSERT_TRUE(backend().waitBound(false));
        }
    }
    // A held key stays down for a second: long past the desktop's key repeat.
    bool press(const std::string& key) {
        if (key.rfind("hold ", 0) != 0) return user(key);
        const std::string code = key.substr(5);
        const bool down = user("down " + code);
        Desktop::settle(1000);
        return user("up " + code) && down;
    }
};

TEST_P(Journeys, Run) {
    const Journey& j = *GetParam().journey;
    if (j.untick && !backend().passedKeyReachesClients()) GTEST_SKIP() << "a passed key is lost here";
    ASSERT_NO_FATAL_FAILURE(prepare(j));
    openTarget(j.client);
    for (const std::string& key : j.keys)
        ASSERT_TRUE(press(key)) << key;
    if (j.client == Client::Recorder) {
        const auto log = [&] {
            std::string got = keyLog();
            // Quirk: on X11 the grab of a swallowed key ends as soon as its press is decided (the
            // keyboard must not stay frozen), and GNOME before 48 grabs presses only, so the
            // release goes to the focused window.
            if (backend().releaseMayPass() && !j.untick)
                for (size_t at; (at = got.find("R Tab\n")) != std::string::npos;)
                    got.erase(at, 6);
            return got;
        };
        WaitUntil([&] { return log().size() >= j.expected.size(); }, 5000);
        Desktop::settle(50);
        EXPECT_EQ(log(), j.expected);
    } else {
        // Characters no layout has are pasted, each run a round of the clipboard tools.
        EXPECT_TRUE(waitForText(j.expected, 30000)) << "got: " << text();
    }
}

std::vector<Case> cases() {
    std::vector<Case> out;
    for (Desk desktop :
         {Desk::X11, Desk::Sway, Desk::Kwin, Desk::Trigger, Desk::Gnome, Desk::Labwc, Desk::GnomePortal})
        for (const Journey& j : journeys())
            out.push_back({desktop, &j});
    return out;
}

INSTANTIATE_TEST_SUITE_P(EveryDesktop, Journeys, ::testing::ValuesIn(cases()),
                         [](const ::testing::TestParamInfo<Case>& info) {
                             return std::string(TheDesktop(info.param.desktop).name()) + "_" +
                                    info.param.journey->name;
                         });

// Where the user writes Chinese, their input method's Pinyin engine gets the keys of a window that
// takes text before the window does: IBus or Fcitx5 in GTK and Qt windows on X11, and Fcitx5 as
// sway's input method (virtual keyboards' keys go to it too), where Keyquill switches to direct
// input for the line; IBus in the shell on GNOME (which also sent the modifiers on without
// waiting for it, before 45), where the extension sends its keys past it.
// Each line arrives as written, in its case; the engine is on again afterwards and converts what
// the user types ("ni" and Space make 你).
class InputMethods : public BackendE2E, public ::testing::WithParamInterface<Desk> {
protected:
    Backend& backend() const override { return TheDesktop(GetParam()); }
};

TEST_P(InputMethods, LinesGoPastTheEngineWhichStillConvertsTheUsersKeys) {
    loadList({"xyz ABC aBc, Hello World! 123", "é ✓"});
    const std::string lines = "xyz ABC aBc, Hello World! 123é ✓";
    for (Client client : {Client::Gtk, backend().isX11() ? Client::Qt : Client::Gtk4}) {
        openTarget(client);
        ASSERT_TRUE(WaitUntil([&] { return backend().engineOn(true); }, 20000)) << "the engine is not on";
        backend().engineRestless(true);
        ASSERT_TRUE(tap(kTab) && tap(kTab));
        const bool exact = waitForText(lines);
        backend().engineRestless(false);
        ASSERT_TRUE(exact) << "got: " << text();
        // Given back a moment after the line, once the window has handed its keys on.
        ASSERT_TRUE(WaitUntil([&] { return backend().engineOn(false); }));
        for (int key : {49, 23, 57}) // n, i, Space
            ASSERT_TRUE(tap(key));
        EXPECT_TRUE(waitForText(lines + "你")) << "got: " << text();
    }
}

INSTANTIATE_TEST_SUITE_P(PinyinOn, InputMethods,
                         ::testing::Values(Desk::X11IBus, Desk::X11Fcitx5, Desk::GnomePinyin,
                                           Desk::SwayFcitx5),
                         [](const ::testing::TestParamInfo<Desk>& info) {
                             return std::string(TheDesktop(info.param).name());
                         });

} // namespace
