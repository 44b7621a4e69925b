#include "bench_support.h"

#include <random>

#include <X11/Xutil.h>

#include <algorithm>
#include <cmath>
#include <poll.h>

namespace kq::bench {

double seconds(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double>(to - from).count();
}

double micros(Clock::time_point from, Clock::time_point to) {
    return std::chrono::duration<double, std::micro>(to - from).count();
}

double median(std::vector<double> v) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

double percentile(std::vector<double> v, double p) {
    if (v.empty()) return 0;
    std::sort(v.begin(), v.end());
    const auto rank =
        static_cast<size_t>(std::max(1.0, std::ceil(p / 100.0 * static_cast<double>(v.size()))));
    return v[std::min(rank, v.size()) - 1];
}

Receiver::~Receiver() {
    if (m_dpy) XCloseDisplay(m_dpy);
}

bool Receiver::open() {
    m_dpy = XOpenDisplay(nullptr);
    if (!m_dpy) return false;
    m_window = XCreateSimpleWindow(m_dpy, DefaultRootWindow(m_dpy), 40, 40, 200, 100, 0, 0, 0xFFFFFF);
    XStoreName(m_dpy, m_window, "kq-bench-receiver");
    XSelectInput(m_dpy, m_window, StructureNotifyMask);
    XMapWindow(m_dpy, m_window);
    XEvent ev{};
    while (ev.type != MapNotify)
        XMaskEvent(m_dpy, StructureNotifyMask, &ev);
    XSelectInput(m_dpy, m_window, KeyPressMask | KeyReleaseMask);
    XSetInputFocus(m_dpy, m_window, RevertToParent, CurrentTime);
    XSync(m_dpy, False);
    drain();
    return true;
}

void Receiver::drain() {
    XEvent ev;
    while (XPending(m_dpy))
        XNextEvent(m_dpy, &ev);
}

// The next event, timestamped when it was read from the connection; false after `timeoutMs`.
bool Receiver::readOne(int timeoutMs, XEvent& ev, Clock::time_point& at) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!XPending(m_dpy)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (left.count() <= 0) return false;
        pollfd pfd{ConnectionNumber(m_dpy), POLLIN, 0};
        poll(&pfd, 1, static_cast<int>(left.count()));
    }
    at = Clock::now();
    XNextEvent(m_dpy, &ev);
    return true;
}

std::optional<Clock::time_point> Receiver::awaitPress(KeySym sym, int timeoutMs) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    XEvent ev;
    Clock::time_point at;
    while (Clock::now() < end) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
        if (!readOne(static_cast<int>(std::max<long>(1, left.count())), ev, at)) break;
        if (ev.type == KeyPress && XLookupKeysym(&ev.xkey, 0) == sym) return at;
    }
    return std::nullopt;
}

Receiver::Burst Receiver::awaitPresses(size_t count, int quietMs) {
    Burst b;
    XEvent ev;
    Clock::time_point at;
    while (b.presses < count && readOne(quietMs, ev, at)) {
        if (ev.type != KeyPress || IsModifierKey(XLookupKeysym(&ev.xkey, 0))) continue;
        if (b.presses++ == 0) b.first = at;
        b.last = at;
    }
    return b;
}

std::string LowercaseWords(size_t length) {
    std::mt19937 rng(42);
    std::string out;
    while (out.size() < length) {
        for (unsigned i = 0, n = 2 + rng() % 8; i < n; ++i)
            out += static_cast<char>('a' + rng() % 26);
        out += ' ';
    }
    out.resize(length);
    return out;
}

} // namespace kq::bench
