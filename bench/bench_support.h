#pragma once
// What the typing benchmarks share: statistics over timings and a receiving window of their own
// that timestamps each typed key the moment it reaches this process.
#include <X11/Xlib.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace kq::bench {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point from, Clock::time_point to);
double micros(Clock::time_point from, Clock::time_point to);
double median(std::vector<double> v);
double percentile(std::vector<double> v, double p); // nearest rank
// Lowercase words: every character is on any keymap, so this is the typing path at full speed.
std::string LowercaseWords(size_t length);

class Receiver {
public:
    ~Receiver();
    // Maps a focused window titled "kq-bench-receiver" on a connection of its own.
    bool open();
    Window window() const { return m_window; }
    void drain();
    // When a press of `sym` was read, or nothing if none came in time.
    std::optional<Clock::time_point> awaitPress(KeySym sym, int timeoutMs);
    struct Burst {
        Clock::time_point first{}, last{};
        size_t presses = 0; // presses of character keys (modifiers not counted)
    };
    // Reads character key presses until `count` arrived or none came for `quietMs`.
    Burst awaitPresses(size_t count, int quietMs);

private:
    bool readOne(int timeoutMs, XEvent& ev, Clock::time_point& at);
    Display* m_dpy = nullptr;
    Window m_window = 0;
};

} // namespace kq::bench
