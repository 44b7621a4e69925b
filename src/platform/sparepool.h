#pragma once
// Which spare keycode holds which character the layout lacks, and since when it was last typed.
//
// Quirk: an X key event carries only a keycode; every client looks it up in the keymap as it is
// when the client gets round to the event, not as it was when the key was sent. A browser or a
// busy window can be seconds behind. A spare keycode therefore keeps its character after the line,
// and is given to another character only once it has gone unused for the grace period.
//
// Standard library only, so the policy is tested without an X server.
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

namespace kq {

struct SpareTimings {
    // A slot unused this long may be given to another character: the slowest reader (a browser
    // under load, a window busy for a moment) has long since looked it up.
    std::chrono::milliseconds grace{5000};
    // With nothing typed for this long every binding is removed, so the keymap is the user's again.
    std::chrono::milliseconds idle{10000};
    // At exit the newest binding gets at least this long before it is removed.
    std::chrono::milliseconds exitSettle{1000};
};

class SparePool {
public:
    using Clock = std::chrono::steady_clock;
    static constexpr int kLevels = 2; // level 0 plain, level 1 with Shift

    struct Slot {
        uint8_t keycode = 0;
        uint8_t level = 0;
        bool operator==(const Slot&) const = default;
    };

    explicit SparePool(std::chrono::milliseconds grace) : m_grace(grace) {}

    // The keycodes the pool may use (spare in the keymap, or holding bindings of ours). Bindings
    // on keycodes no longer listed are forgotten.
    void setKeycodes(const std::vector<uint8_t>& keycodes);
    const std::vector<uint8_t>& keycodes() const { return m_keycodes; }
    size_t capacity() const { return m_keycodes.size() * kLevels; }

    // Slots on keycodes from `below` up are left out where a reader cannot use them; a character
    // may then hold a second slot below while its first keeps its grace.
    static constexpr int kAllKeycodes = 256;

    std::optional<Slot> find(uint32_t sym, int below = kAllKeycodes) const;
    // Gives `sym` (not bound yet) the slot that is free, or else unused longest past the grace
    // period; nullopt when every slot is still within its grace. The slot counts as used now.
    std::optional<Slot> assign(uint32_t sym, Clock::time_point now, int below = kAllKeycodes);
    void touch(uint32_t sym, Clock::time_point now);
    // When the next slot in use leaves its grace period (now when one is free already).
    Clock::time_point nextAvailable(Clock::time_point now, int below = kAllKeycodes) const;
    // A keycode of the pool that holds nothing, the highest; 0 when every one holds something.
    uint8_t emptyKeycode() const;

    // What a keycode holds, level by level (0 = nothing).
    std::vector<uint32_t> contents(uint8_t keycode) const;
    bool holdsAnything(uint8_t keycode) const;
    // Forgets the bindings of one keycode (the keymap no longer holds them) or of all.
    void forget(uint8_t keycode);
    void forgetAll();
    bool empty() const;
    std::optional<Clock::time_point> lastUse() const { return m_lastUse; }

private:
    struct Entry {
        Slot slot;
        uint32_t sym = 0; // 0: free
        Clock::time_point used{};
    };
    Entry* entry(uint32_t sym);

    std::chrono::milliseconds m_grace;
    std::vector<uint8_t> m_keycodes;
    std::vector<Entry> m_entries;
    std::optional<Clock::time_point> m_lastUse;
};

} // namespace kq
