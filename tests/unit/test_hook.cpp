// Hotkey dispatch: which key events the filter swallows, and when a press starts playback.
#include "engine/hook.h"
#include "engine/keytable.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kq {
namespace {

constexpr int32_t kPassOn = 77; // what the next filter returns, so a passed-on event is visible
constexpr uint32_t VkNumLock = 144;

// Records what the filter asks of the windows. Playback and yields can re-enter the filter, as they
// do when the windows process pending events; the one-shot callbacks model that.
struct RecordingHost : HookHost {
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
    explicit Rig(int16_t mode, bool enabled = true, uint32_t bindKey = VkTab) {
        state.MacroMode = mode, state.MacroEnabled = enabled, state.BindKey = bindKey;
        host.state = &state;
    }
    int32_t key(uint32_t message, uint32_t vk, int32_t code = 0) {
        return KeyboardHookProc(state, HookEvent{code, message, vk}, host, kPassOn);
    }
};

// Which events are taken, per mode. Caps Lock is swallowed in both modes whatever "Enabled" says,
// so its state cannot change while the filter is installed; Alt+key (260/261) always passes.
TEST(Hook, SwallowsOnlyTheHotkeysOfTheActiveMode) {
    constexpr uint32_t D = MsgKeyDown, U = MsgKeyUp, SD = MsgSysKeyDown, F5 = 116, Tab = VkTab;
    constexpr uint32_t Caps = VkCapsLock, Num = VkNumLock;
    constexpr int32_t P = kPassOn;
    struct Case {
        int16_t mode;
        bool enabled;
        uint32_t bind;
        int32_t code;
        uint32_t msg, vk;
        int32_t ret;
    };
    const Case cases[] = {
        {1, true, Tab, 0, D, Tab, -1},     {1, true, Tab, 0, U, Tab, -1},  {1, false, Tab, 0, D, Tab, P},
        {1, true, F5, 0, D, F5, -1},       {1, true, F5, 0, D, Tab, P},    {1, true, Tab, 0, SD, Tab, P},
        {1, true, Tab, 0, SD + 1, Tab, P}, {1, true, Tab, 1, D, Tab, P},   {1, true, Tab, 0, SD, Caps, P},
        {1, true, Tab, 0, D, Num, P},      {1, true, Tab, 0, D, Caps, -1}, {1, false, Tab, 0, U, Caps, -1},
        {2, false, Tab, 0, D, Caps, -1},   {2, true, Tab, -1, D, Caps, P}, {2, true, Tab, 0, D, Tab, P},
        {2, true, Tab, 1, D, VkF1, P},     {0, true, Tab, 0, D, Tab, 0},   {3, true, Tab, 0, D, Caps, 0},
        {-1, true, Tab, 0, D, VkF1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.mode << " " << c.enabled << " " << c.bind << " " << c.code << " "
                                        << c.msg << " " << c.vk);
        Rig rig(c.mode, c.enabled, c.bind);
        EXPECT_EQ(rig.key(c.msg, c.vk, c.code), c.ret);
        const bool plays = c.ret == -1 && c.vk == c.bind, up = c.msg == MsgKeyUp;
        EXPECT_EQ(rig.host.calls,
                  plays ? std::vector<std::string>{up ? "select:0" : "next"} : std::vector<std::string>{});
        EXPECT_EQ(rig.host.yields, c.mode == ModeMultiSlot ? 12 : 0);
    }
}

TEST(HookSingleList, LatchStopsAutoRepeatUntilATakenKeyUp) {
    Rig rig(ModeSingleList);
    EXPECT_EQ(rig.key(MsgKeyDown, VkTab), -1);
    EXPECT_TRUE(rig.state.HotkeyDown);
    rig.state.CommandIndex = 3; // where playback left the cursor
    for (uint32_t msg : {MsgKeyDown, MsgKeyDown, MsgKeyUp, MsgKeyDown})
        EXPECT_EQ(rig.key(msg, VkTab), -1);
    // Set only once playback returns: playback itself always sees it clear.
    EXPECT_EQ(rig.host.latchAtPlayback, (std::vector<bool>{false, false}));
    // A key-up while disabled passes, even after a swallowed key-down, and so leaves the latch set.
    rig.state.MacroEnabled = false;
    EXPECT_EQ(rig.key(MsgKeyUp, VkTab), kPassOn);
    EXPECT_TRUE(rig.state.HotkeyDown);
    EXPECT_EQ(rig.host.calls, (std::vector<std::string>{"next", "select:3", "next"}));
}

// Every F1..F12 down and up is taken, whatever its row holds; Alt+F4 (260) must still reach the
// window. "Enabled" belongs to the single list and does not matter here.
TEST(HookMultiSlot, FunctionKeysAreSwallowedAndYieldOncePerLowerKey) {
    for (uint32_t vk = 100; vk <= 150; ++vk)
        for (uint32_t msg : {MsgKeyDown, MsgKeyUp, MsgSysKeyDown}) {
            Rig rig(ModeMultiSlot, false);
            const bool fkey = vk >= VkF1 && vk <= VkF12 && msg != MsgSysKeyDown;
            EXPECT_EQ(rig.key(msg, vk), fkey ? -1 : kPassOn) << vk << " " << msg;
            EXPECT_EQ(rig.host.yields, fkey ? int(vk - VkF1) : 12);
            const bool played = fkey && msg == MsgKeyDown;
            EXPECT_EQ(rig.host.calls, played ? std::vector{"next2:" + std::to_string(vk - VkF1)}
                                             : std::vector<std::string>{});
        }
}

// Keys taken inside an action: during playback a second press plays again; in the multi-slot
// key test's yields, which come before the latch is read, a press plays first and the outer press
// then types nothing. A key-up taken while its own press is handled leaves the latch clear, as
// does any function key's release while another is held, or the next press would type nothing.
TEST(HookBothModes, KeysTakenInsideAnActionOrWhileAnotherIsHeld) {
    enum Nest { Nowhere, InYield, InPlayback };
    using Key = std::pair<uint32_t, uint32_t>; // message, vk
    constexpr uint32_t D = MsgKeyDown, U = MsgKeyUp, Tab = VkTab, F1 = VkF1, F2 = 113, F3 = 114, F5 = 116;
    struct Case {
        int16_t mode;
        Nest nest;
        Key nested; // taken inside the first key's action
        std::vector<Key> keys;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
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
        const Case& c = cases[i];
        SCOPED_TRACE(testing::Message() << "case " << i);
        Rig rig(c.mode);
        const auto nested = [&rig, k = c.nested] { EXPECT_EQ(rig.key(k.first, k.second), -1); };
        if (c.nest == InYield) rig.host.duringYield = nested;
        if (c.nest == InPlayback) rig.host.duringPlayback = nested;
        for (const auto& [msg, vk] : c.keys)
            EXPECT_EQ(rig.key(msg, vk), -1);
        EXPECT_EQ(rig.host.calls, c.calls);
        EXPECT_TRUE(rig.state.HotkeyDown) << "the last press leaves the latch set";
    }
}

// The combo box items and the function-key rows both come from this table: a wrong code here
// binds the wrong key everywhere.
TEST(KeyTable, TextsMapToTheirCodes) {
    EXPECT_EQ(VkFromKeyText("TAB"), 9u);
    EXPECT_EQ(VkFromKeyText("F5"), 116u);
    EXPECT_EQ(VkFromKeyText("F12"), 123u);
    EXPECT_FALSE(VkFromKeyText("f5"));
    EXPECT_FALSE(VkFromKeyText("F13"));
}

} // namespace
} // namespace kq
