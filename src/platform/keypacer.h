#pragma once
// How fast a typer may hand key events to a Wayland compositor.
//
// Quirk: the compositor queues each key event for the focused client, and libwayland before 1.23
// disconnects a client whose queue passes its socket's buffer: measured on sway 1.7, a client that
// reads nothing is gone after about 6,400 key events (3,200 characters) sent in batches, and far
// fewer when they come one at a time. An application busy for a moment while a long line arrives
// would be killed. No protocol tells how far the client has read, so a line's events go out at
// most `burst` at once, then at `eventsPerSecond`, a batch at each fence (a round trip every
// `fenceEvery` events, which also keeps the compositor close behind): a client that reads nothing
// at all has about a second before its queue is full. Lines of up to about 500 characters are not
// slowed; longer ones type at about 2,500 characters a second.
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

namespace kq {

struct PaceLimits {
    int fenceEvery = 128;
    double burst = 1024;
    double eventsPerSecond = 5000;
};

class KeyPacer {
public:
    using Limits = PaceLimits;

    explicit KeyPacer(Limits limits = {}) : m_limits(limits), m_tokens(limits.burst) {}

    // Counts one event sent; true when a fence is due.
    bool sent() { return ++m_since >= m_limits.fenceEvery; }
    // Before a fence: waits until the events sent since the last one fit the budget.
    void pace() {
        using namespace std::chrono;
        const auto now = steady_clock::now();
        const int events = std::exchange(m_since, 0);
        const double rate = m_limits.eventsPerSecond;
        m_tokens =
            std::min(m_limits.burst, m_tokens + duration<double>(now - m_refilled).count() * rate) - events;
        m_refilled = now;
        if (m_tokens < 0) std::this_thread::sleep_for(duration<double>(-m_tokens / rate));
    }

private:
    Limits m_limits;
    int m_since = 0;
    double m_tokens;
    std::chrono::steady_clock::time_point m_refilled = std::chrono::steady_clock::now();
};

} // namespace kq
