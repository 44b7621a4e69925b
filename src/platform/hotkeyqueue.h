#pragma once
// Hotkey presses and releases that a compositor reported after it had already swallowed the key,
// fed to the engine in order: never inside another event's action (its yields run the event loop),
// each release only after a press that was taken, and nothing for keys no longer bound.
#include "platform/keyboard.h"
#include "platform/serialqueue.h"

#include <cstdint>
#include <set>
#include <vector>

namespace kq {

class HotkeyQueue {
public:
    void push(Hotkey key, bool release) { m_events.push({key, release}); }
    // Acts on what is queued, unless an action is already running further up the stack.
    void run(const KeyFilter::Callbacks& callbacks);
    // Keys that are no longer bound will not report their release.
    void keepOnly(const std::vector<Hotkey>& boundSorted);
    void clear() { m_events.clear(); }

private:
    struct Event {
        Hotkey key;
        bool release;
    };
    SerialQueue<Event> m_events;
    std::set<Hotkey> m_down; // keys whose press was taken, until their release
};

} // namespace kq
