#include "engine/dispatch.h"

namespace kq {
namespace {

HotkeyDecision decideSingleList(const MacroState& state, const KeyEvent& e) {
    HotkeyDecision d;
    d.mode = ModeSingleList;
    if (e.altHeld) return d;
    if (e.key == state.BindKey && state.MacroEnabled) {
        d.verdict = Verdict::Swallow;
        d.action = e.release ? HotkeyAction::SelectAndClear : HotkeyAction::Playback;
    } else if (e.key == Hotkey::CapsLock) {
        d.verdict = Verdict::Swallow;
    }
    return d;
}

// The function keys are tested in ascending order with one yield after each key that does not
// match, so F(n) costs n - 1 yields and any other event twelve.
HotkeyDecision decideMultiSlot(const KeyEvent& e) {
    HotkeyDecision d;
    d.mode = ModeMultiSlot;
    if (!e.altHeld && IsFunctionKey(e.key)) {
        d.verdict = Verdict::Swallow;
        d.functionKey = static_cast<int16_t>(FunctionKeyIndex(e.key));
        d.yields = d.functionKey;
        d.action = e.release ? HotkeyAction::ClearLatch : HotkeyAction::Playback;
        return d;
    }
    d.yields = 12;
    if (!e.altHeld && e.key == Hotkey::CapsLock) d.verdict = Verdict::Swallow;
    return d;
}

} // namespace

HotkeyDecision DecideHotkey(const MacroState& state, const KeyEvent& event) {
    if (state.MacroMode == ModeSingleList) return decideSingleList(state, event);
    if (state.MacroMode == ModeMultiSlot) return decideMultiSlot(event);
    HotkeyDecision d; // before start-up everything passes
    d.mode = state.MacroMode;
    return d;
}

void RunHotkeyActions(MacroState& state, const HotkeyDecision& decision, HotkeyHost& host) {
    // Counted from before the key test's yields: a key-up taken in one of them also means the
    // key is no longer down.
    const uint32_t keyUpsBefore = state.KeyUpsTaken;
    for (int n = 0; n < decision.yields; ++n)
        host.YieldEvents();
    switch (decision.action) {
    case HotkeyAction::NoAction:
        break;
    case HotkeyAction::Playback: {
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
    case HotkeyAction::SelectAndClear:
        ++state.KeyUpsTaken;
        host.SelectListIndex(state.CommandIndex);
        state.HotkeyDown = false;
        break;
    case HotkeyAction::ClearLatch:
        ++state.KeyUpsTaken;
        state.HotkeyDown = false;
        break;
    }
}

std::vector<Hotkey> KeysThatMaySwallow(const MacroState& state) {
    std::vector<Hotkey> keys;
    if (state.MacroMode != ModeSingleList && state.MacroMode != ModeMultiSlot) return keys;
    if (state.MacroMode == ModeSingleList && state.MacroEnabled && state.BindKey != Hotkey::CapsLock)
        keys.push_back(state.BindKey);
    if (state.MacroMode == ModeMultiSlot)
        for (int i = 0; i < 12; ++i)
            keys.push_back(FunctionKey(i));
    keys.push_back(Hotkey::CapsLock); // last: the keys are sorted
    return keys;
}

} // namespace kq
