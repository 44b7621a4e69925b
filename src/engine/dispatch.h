#pragma once
// What a press or release of a hotkey does. Split in two so that a platform which freezes the
// keyboard while it waits for the verdict can release it before anything slow runs:
//   DecideHotkey     - pure: swallow or pass, from the state at entry;
//   RunHotkeyActions - the playback, list selection, latch and yields, run after the release.
#include "engine/hotkey.h"
#include "engine/macrostate.h"

#include <cstdint>
#include <vector>

namespace kq {

struct KeyEvent {
    Hotkey key = Hotkey::Tab;
    bool release = false;
    bool altHeld = false; // events with Alt held always pass
};

enum class Verdict {
    Swallow, // the applications never see the event
    Pass,    // the focused application gets it
};

enum class HotkeyAction {
    NoAction,
    Playback,       // press: unless latched, single-list or slot playback; then set the latch
    SelectAndClear, // single-list release: select line CommandIndex, clear the latch
    ClearLatch,     // multi-slot release
};

struct HotkeyDecision {
    Verdict verdict = Verdict::Pass;
    HotkeyAction action = HotkeyAction::NoAction;
    int16_t mode = 0;         // the mode the decision was made in
    int16_t functionKey = -1; // 0..11 for F1..F12 in multi-slot mode
    int yields = 0;           // yields to pending events the multi-slot key test performs
};

// What the actions call; the program provides it.
class HotkeyHost {
public:
    virtual ~HotkeyHost() = default;
    virtual void NextCommand() = 0;
    virtual void NextCommand2(int16_t functionkey) = 0;
    virtual void SelectListIndex(int16_t index) = 0; // may run the list's click handler
    virtual void YieldEvents() = 0;
};

HotkeyDecision DecideHotkey(const MacroState& state, const KeyEvent& event);
void RunHotkeyActions(MacroState& state, const HotkeyDecision& decision, HotkeyHost& host);

// The keys whose events the dispatch may swallow in the current state, sorted; every other key
// would pass, so a backend need not watch it.
std::vector<Hotkey> KeysThatMaySwallow(const MacroState& state);

} // namespace kq
