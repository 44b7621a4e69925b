// Hotkey dispatch: which key events the filter swallows, and when a press starts playback.
#include "engine/dispatch.h"
#include "engine/hotkey.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

namespace kq {
namespace {

// Records what the filter asks of the windows. Playback and yields can re-enter the filter, as they
// do when the windows process pending events; the one-shot callbacks model that.
struct RecordingHost : HotkeyHost {
    MacroState* state = nullptr;
    std::vector<std::string> calls;
    std::vector<bool> latchAtPlayback;
    int yields = 0;
    std::function<void()> duringPlayback, duringYield;

    void NextCommand() override { played("next"); }
    void NextCommand2(int16_t functionkey) override { played("next2:" + std::to_string(functionkey)); }
    void SelectListIndex(int16_t index) override { calls.push_back("select:" + std::to_string(index)); }
    void YieldEvents() override {
        ++yields;
        if (auto nested = std::exchange(duringYield, nullptr)) nested();
    }
    void played(std::string call) {
        calls.push_back(std::move(call));
        latchAtPlayback.push_back(state->HotkeyDown);
        if (auto nested = std::exchange(duringPlayback, nullptr)) nested();
    }
};

struct Rig {
    MacroState state;
    RecordingHost host;
    explicit Rig(int16_t mode, bool enabled = true, Hotkey bindKey = Hotkey::Tab) {
        state.MacroMode = mode, state.MacroEnabled = enabled, state.BindKey = bindKey;
        host.state = &state;
    }
    Verdict key(bool release, Hotkey key, bool alt = false) {
        const HotkeyDecision d = DecideHotkey(state, {key, release, alt});
        RunHotkeyActions(state, d, host);
        return d.verdict;
    }
};

constexpr bool D = false, U = true; // press, release
constexpr Verdict S = Verdict::Swallow, P = Verdict::Pass;

// Which events are taken, per mode. Caps Lock is swallowed in both modes whatever "Enabled" says,
// so its state cannot change while the filter is installed; a key with Alt held always passes;
// before start-up (no mode) everything passes.
TEST(Dispatch, SwallowsOnlyTheHotkeysOfTheActiveMode) {
    constexpr Hotkey Tab = Hotkey::Tab, F1 = Hotkey::F1, F5 = Hotkey::F5, Caps = Hotkey::CapsLock;
    // Mode, "Enabled", the bound key; then an event (Alt held, press or release, the key) and its verdict.
    const std::tuple<int16_t, bool, Hotkey, bool, bool, Hotkey, Verdict> cases[] = {
        {1, true, Tab, false, D, Tab, S},  {1, true, Tab, false, U, Tab, S},
        {1, false, Tab, false, D, Tab, P}, {1, true, F5, false, D, F5, S},
        {1, true, F5, false, D, Tab, P},   {1, true, Tab, true, D, Tab, P},
        {1, true, Tab, true, U, Tab, P},   {1, true, Tab, true, D, Caps, P},
        {1, true, Tab, false, D, Caps, S}, {1, false, Tab, false, U, Caps, S},
        {0, true, Tab, false, D, Tab, P},  {3, true, Tab, false, D, Caps, P},
        {-1, true, Tab, false, D, F1, P},
    };
    for (const auto& [mode, enabled, bind, alt, release, key, verdict] : cases) {
        SCOPED_TRACE(testing::Message() << mode << " " << enabled << " " << HotkeyId(bind) << " alt " << alt
                                        << " release " << release << " " << HotkeyId(key));
        Rig rig(mode, enabled, bind);
        EXPECT_EQ(rig.key(release, key, alt), verdict);
        const bool plays = verdict == S && key == bind;
        EXPECT_EQ(rig.host.calls, plays ? std::vector<std::string>{release ? "select:0" : "next"}
                                        : std::vector<std::string>{});
        EXPECT_EQ(rig.host.yields, mode == ModeMultiSlot ? 12 : 0);
    }
}

TEST(DispatchSingleList, LatchStopsAutoRepeatUntilATakenKeyUp) {
    Rig rig(ModeSingleList);
    EXPECT_EQ(rig.key(D, Hotkey::Tab), S);
    EXPECT_TRUE(rig.state.HotkeyDown);
    rig.state.CommandIndex = 3; // where playback left the cursor
    for (bool release : {D, D, U, D})
        EXPECT_EQ(rig.key(release, Hotkey::Tab), S);
    // Set only once playback returns: playback itself always sees it clear.
    EXPECT_EQ(rig.host.latchAtPlayback, (std::vector<bool>{false, false}));
    // A key-up while disabled passes, even after a swallowed key-down, and so leaves the latch set.
    rig.state.MacroEnabled = false;
    EXPECT_EQ(rig.key(U, Hotkey::Tab), P);
    EXPECT_TRUE(rig.state.HotkeyDown);
    EXPECT_EQ(rig.host.calls, (std::vector<std::string>{"next", "select:3", "next"}));
}

// Every F1..F12 press and release is taken, whatever its row holds; Alt+F4 must still reach the
// window. "Enabled" belongs to the single list and does not matter here.
TEST(DispatchMultiSlot, FunctionKeysAreSwallowedAndYieldOncePerLowerKey) {
    for (Hotkey key : AllHotkeys)
        for (bool enabled : {false, true})
            for (const auto& [release, alt] : {std::pair{D, false}, {U, false}, {D, true}}) {
                Rig rig(ModeMultiSlot, enabled);
                const bool fkey = IsFunctionKey(key) && !alt;
                EXPECT_EQ(rig.key(release, key, alt), fkey || (key == Hotkey::CapsLock && !alt) ? S : P)
                    << HotkeyId(key) << " " << release << alt << enabled;
                EXPECT_EQ(rig.host.yields, fkey ? FunctionKeyIndex(key) : 12);
                const std::string played = "next2:" + std::to_string(FunctionKeyIndex(key));
                EXPECT_EQ(rig.host.calls,
                          fkey && !release ? std::vector{played} : std::vector<std::string>{});
            }
}

// Keys taken inside an action: during playback a second press plays again; in the multi-slot
// key test's yields, which come before the latch is read, a press plays first and the outer press
// then types nothing. A key-up taken while its own press is handled leaves the latch clear, as
// does any function key's release while another is held, or the next press would type nothing.
TEST(DispatchBothModes, KeysTakenInsideAnActionOrWhileAnotherIsHeld) {
    enum Nest { Nowhere, InYield, InPlayback };
    using Key = std::pair<bool, Hotkey>; // release, key
    constexpr Hotkey Tab = Hotkey::Tab, F1 = Hotkey::F1, F2 = Hotkey::F2, F3 = Hotkey::F3, F5 = Hotkey::F5;
    // Mode, where a key is taken inside the first key's action and which, then the keys pressed and
    // released in order and the playback calls they make.
    const std::tuple<int16_t, Nest, Key, std::vector<Key>, std::vector<std::string>> cases[] = {
        {ModeSingleList, InPlayback, {D, Tab}, {{D, Tab}}, {"next", "next"}},
        {ModeMultiSlot, InPlayback, {D, F2}, {{D, F2}}, {"next2:1", "next2:1"}},
        {ModeSingleList, InPlayback, {U, Tab}, {{D, Tab}, {D, Tab}}, {"next", "select:0", "next"}},
        {ModeMultiSlot, InPlayback, {U, F2}, {{D, F2}, {D, F2}}, {"next2:1", "next2:1"}},
        {ModeMultiSlot, InYield, {U, F2}, {{D, F2}, {D, F3}}, {"next2:1", "next2:2"}}, // F2 tapped quickly
        {ModeMultiSlot, InYield, {D, F1}, {{D, F5}}, {"next2:0"}},
        // F3 down and its auto-repeat, then F5 down, up and down again while F3 is still held.
        {ModeMultiSlot, Nowhere, {}, {{D, F3}, {D, F3}, {D, F5}, {U, F5}, {D, F5}}, {"next2:2", "next2:4"}},
    };
    for (size_t i = 0; i < std::size(cases); ++i) {
        const auto& [mode, nest, inner, keys, calls] = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        Rig rig(mode);
        const auto nested = [&rig, k = inner] { EXPECT_EQ(rig.key(k.first, k.second), S); };
        if (nest == InYield) rig.host.duringYield = nested;
        if (nest == InPlayback) rig.host.duringPlayback = nested;
        for (const auto& [release, key] : keys)
            EXPECT_EQ(rig.key(release, key), S);
        EXPECT_EQ(rig.host.calls, calls);
        EXPECT_TRUE(rig.state.HotkeyDown) << "the last press leaves the latch set";
    }
}

// Other programs keep our keys by these ids (portal shortcuts, sway bindings): each reads back as
// its key, and nothing else reads as one.
TEST(Hotkey, IdsReadBackAsTheirKeysAndTextsBindTheKeysTheyName) {
    for (Hotkey key : AllHotkeys)
        EXPECT_EQ(HotkeyFromId(HotkeyId(key)), key) << HotkeyId(key);
    for (const char* id : {"", "F1", "f0", "f13", "f01", "caps", "tab "})
        EXPECT_FALSE(HotkeyFromId(id)) << id;
    EXPECT_EQ(HotkeyFromText("TAB"), Hotkey::Tab);
    EXPECT_EQ(HotkeyFromText("F12"), Hotkey::F12);
    EXPECT_FALSE(HotkeyFromText("f5"));
}

} // namespace
} // namespace kq
