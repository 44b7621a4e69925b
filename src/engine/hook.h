#pragma once
// Hotkey dispatch of the global keyboard filter. Split in two so that a platform which freezes
// the keyboard while it waits for the verdict can release it before anything slow runs:
//   DecideHook   - pure: swallow or pass, from the state at entry;
//   RunHookActions - the playback, list selection, latch and yields, run after the release.
#include "engine/macrostate.h"

#include <cstdint>
#include <vector>

namespace kq {

inline constexpr uint32_t MsgKeyDown = 256;
inline constexpr uint32_t MsgKeyUp = 257;
inline constexpr uint32_t MsgSysKeyDown = 260; // key events while Alt is held
inline constexpr uint32_t MsgSysKeyUp = 261;

struct HookEvent {
    int32_t code = 0; // only 0 ("an action") is examined
    uint32_t message = MsgKeyDown;
    uint32_t vk = 0;
};

enum class Verdict {
    Swallow,    // result -1: the applications never see the event
    PassOn,     // handed to the next filter, so the focused application gets it
    ReturnZero, // no mode active: result 0 without calling the next filter
};

enum class HookAction {
    NoAction,
    Playback,       // key-down: unless latched, single-list or slot playback; then set the latch
    SelectAndClear, // single-list key-up: select line CommandIndex, clear the latch
    ClearLatch,     // multi-slot key-up
};

struct HookDecision {
    Verdict verdict = Verdict::PassOn;
    HookAction action = HookAction::NoAction;
    int16_t mode = 0;         // the mode the decision was made in
    int16_t functionKey = -1; // 0..11 for F1..F12 in multi-slot mode
    int yields = 0;           // yields to pending events the multi-slot key test performs
};

// What the filter's actions call; the windows provide it.
class HookHost {
public:
    virtual ~HookHost() = default;
    virtual void NextCommand() = 0;
    virtual void NextCommand2(int16_t functionkey) = 0;
    virtual void SelectListIndex(int16_t index) = 0; // may run the list's click handler
    virtual void YieldEvents() = 0;
};

HookDecision DecideHook(const MacroState& state, const HookEvent& event);
void RunHookActions(MacroState& state, const HookDecision& decision, HookHost& host);

// Both halves in one call, for callers that need no release in between. Returns -1 to swallow,
// passOnResult when the event goes to the next filter, 0 when no mode is active.
int32_t KeyboardHookProc(MacroState& state, const HookEvent& event, HookHost& host, int32_t passOnResult = 0);

} // namespace kq

namespace kq {
// The keys whose events the dispatch may swallow in the current state; every other key would be
// passed on, so a filter need not watch it.
std::vector<uint32_t> KeysThatMaySwallow(const MacroState& state);
} // namespace kq
