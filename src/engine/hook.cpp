#include "engine/hook.h"

#include "engine/keytable.h"

namespace kq {
namespace {

bool isKeyMessage(const HookEvent& e) {
    return e.code == 0 && (e.message == MsgKeyDown || e.message == MsgKeyUp);
}

HookDecision decideSingleList(const MacroState& state, const HookEvent& e) {
    HookDecision d;
    d.mode = ModeSingleList;
    const bool candidate = isKeyMessage(e) && (e.vk == state.BindKey || e.vk == VkCapsLock);
    if (candidate && e.vk == state.BindKey && state.MacroEnabled) {
        d.verdict = Verdict::Swallow;
        d.action = e.message == MsgKeyDown ? HookAction::Playback : HookAction::SelectAndClear;
    } else if (candidate && e.vk == VkCapsLock) {
        d.verdict = Verdict::Swallow;
    }
    return d;
}

// The function keys are tested in ascending order with one yield after each key that does not
// match, so F(n) costs n - 1 yields and any other event twelve.
HookDecision decideMultiSlot(const HookEvent& e) {
    HookDecision d;
    d.mode = ModeMultiSlot;
    const bool keyMessage = isKeyMessage(e);
    if (keyMessage && IsFunctionKey(e.vk)) {
        d.verdict = Verdict::Swallow;
        d.functionKey = static_cast<int16_t>(e.vk - VkF1);
        d.yields = d.functionKey;
        d.action = e.message == MsgKeyDown ? HookAction::Playback : HookAction::ClearLatch;
        return d;
    }
    d.yields = 12;
    if (keyMessage && e.vk == VkCapsLock) d.verdict = Verdict::Swallow;
    return d;
}

} // namespace

HookDecision DecideHook(const MacroState& state, const HookEvent& event) {
    if (state.MacroMode == ModeSingleList) return decideSingleList(state, event);
    if (state.MacroMode == ModeMultiSlot) return decideMultiSlot(event);
    HookDecision d;
    d.mode = state.MacroMode;
    d.verdict = Verdict::ReturnZero;
    return d;
}

void RunHookActions(MacroState& state, const HookDecision& decision, HookHost& host) {
    // Counted from before the key test's yields: a key-up taken in one of them also means the
    // key is no longer down.
    const uint32_t keyUpsBefore = state.KeyUpsTaken;
    for (int n = 0; n < decision.yields; ++n)
        host.YieldEvents();
    switch (decision.action) {
    case HookAction::NoAction:
        break;
    case HookAction::Playback: {
        // The latch is read here, after the yields, and set only once playback has returned:
        // a press that arrives in a nested call during playback still finds it clear.
        if (!state.HotkeyDown) {
            if (decision.mode == ModeSingleList)
                host.NextCommand();
            else
                host.NextCommand2(decision.functionKey);
        }
        // A key-up taken while this press was handled means the key is no longer down: latching
        // now would swallow the next press without typing.
        if (state.KeyUpsTaken == keyUpsBefore) state.HotkeyDown = true;
        break;
    }
    case HookAction::SelectAndClear:
        ++state.KeyUpsTaken;
        host.SelectListIndex(state.CommandIndex);
        state.HotkeyDown = false;
        break;
    case HookAction::ClearLatch:
        ++state.KeyUpsTaken;
        state.HotkeyDown = false;
        break;
    }
}

int32_t KeyboardHookProc(MacroState& state, const HookEvent& event, HookHost& host, int32_t passOnResult) {
    const HookDecision d = DecideHook(state, event);
    RunHookActions(state, d, host);
    switch (d.verdict) {
    case Verdict::Swallow:
        return -1;
    case Verdict::PassOn:
        return passOnResult;
    case Verdict::ReturnZero:
        return 0;
    }
    return 0;
}

} // namespace kq

namespace kq {
std::vector<uint32_t> KeysThatMaySwallow(const MacroState& state) {
    std::vector<uint32_t> keys;
    if (state.MacroMode != ModeSingleList && state.MacroMode != ModeMultiSlot) return keys;
    keys.push_back(VkCapsLock);
    if (state.MacroMode == ModeSingleList && state.MacroEnabled && state.BindKey != VkCapsLock)
        keys.push_back(state.BindKey);
    if (state.MacroMode == ModeMultiSlot)
        for (uint32_t vk = VkF1; vk <= VkF12; ++vk)
            keys.push_back(vk);
    return keys;
}
} // namespace kq
