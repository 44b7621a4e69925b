// The real keyquill on a headless sway, against wtype. The receiving client is the tests' recording
// Wayland client, which prints each key event as it gets it: this program reads its output and
// timestamps each press as it arrives. Keyquill's own windows are on a private Xvfb, where the driver loads
// its lists; its hotkeys and typing are sway's.
//  - latency: the user's keyboard (a virtual keyboard of the tests) taps TAB; time to the first
//    typed key received;
//  - the command-line trigger: a Keyquill that is not told sway's IPC takes its hotkey from
//    `keyquill --press tab`, as on compositors whose own bindings run it; time from the command's
//    start to the first typed key received;
//  - throughput: a 500-character line (typed at full speed) and a 10,000-character one (paced, so
//    that a busy client is not disconnected) typed by one TAB press, first to last key received,
//    against `wtype` typing the same text.
// With --gnome, the same (latency, 500 and 10,000 characters) on a headless GNOME Shell with
// Keyquill's extension instead; with --gnome-portal, on GNOME 48 and later without the extension.
// Usage: kq_bench_wayland [--gnome | --gnome-portal] [--presses N] [--runs N] [--chars N]
#include "desktop.h"

#include "bench_support.h"
#include "gnome_session.h"
#include "keyquill_driver.h"
#include "sway_session.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <random>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace kq {
namespace {

using namespace bench;

constexpr int kTab = 15;

// The recording client's key presses, timestamped by a reader thread.
class Receiver {
public:
    bool start(const std::vector<std::string>& env) {
        std::vector<std::string> args = env;
        args.push_back(KQ_WL_RECORDER);
        int from = -1;
        m_pid = e2e::spawnPiped("env", args, nullptr, &from);
        if (m_pid) m_reader = std::thread([this, from] { read(from); });
        return m_pid != 0;
    }
    ~Receiver() {
        e2e::terminate(m_pid);
        if (m_reader.joinable()) m_reader.join();
    }
    size_t presses() {
        std::lock_guard lock(m_mutex);
        return m_times.size();
    }
    // Waits until `count` presses have arrived in all, or none came for `quietMs`.
    std::vector<Clock::time_point> awaitPresses(size_t count, int quietMs) {
        std::unique_lock lock(m_mutex);
        size_t seen = m_times.size();
        while (m_times.size() < count)
            if (!m_changed.wait_for(lock, std::chrono::milliseconds(quietMs),
                                    [&] { return m_times.size() != seen; }))
                break;
            else
                seen = m_times.size();
        return m_times;
    }

private:
    void read(int fd) {
        FILE* in = fdopen(fd, "r");
        char line[512];
        while (in && std::fgets(line, sizeof line, in))
            if (line[0] == 'P') {
                std::lock_guard lock(m_mutex);
                m_times.push_back(Clock::now());
                m_changed.notify_all();
            }
        if (in) fclose(in);
    }
    pid_t m_pid = 0;
    std::thread m_reader;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    std::vector<Clock::time_point> m_times;
};

std::string list(const std::vector<double>& v) {
    std::string s;
    for (double x : v)
        s += " " + std::to_string(static_cast<long>(x));
    return s;
}

std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct Latency {
    std::vector<double> us;
    int missed = 0;
};

// `press` once for each of `presses` (after five to warm up, not counted), the time from its
// start to the first key received.
template <class Press, class Release>
Latency measure(Receiver& rx, int presses, Press press, Release release) {
    Latency l;
    for (int i = 0; i < presses + 5; ++i) {
        const size_t before = rx.presses();
        const auto sent = Clock::now();
        press();
        const auto t = rx.awaitPresses(before + 1, 2000);
        release();
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        if (i < 5) continue;
        if (t.size() <= before)
            ++l.missed;
        else
            l.us.push_back(micros(sent, t[before]));
    }
    return l;
}

// Keys per second from the first to the last of `count` presses; 0 when they did not all arrive.
double rate(const std::vector<Clock::time_point>& t, size_t from, size_t count) {
    if (t.size() < from + count) return 0;
    return static_cast<double>(count - 1) / std::max(1e-9, seconds(t[from], t[from + count - 1]));
}

// The hotkey from the command line: Keyquill started again, told neither sway's IPC nor a portal,
// listens for `keyquill --press tab`.
void triggerLatency(KeyquillDriver& kq, Receiver& rx, int presses) {
    kq.stop();
    setenv("SWAYSOCK", "", 1);
    setenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent", 1);
    const bool started = kq.startPastNotice(KQ_KEYQUILL);
    if (started) {
        kq.loadList("trigger.txt", "x");
        kq.enableWithoutBackspace();
        e2e::Desktop::settle(500);
    }
    pid_t pressing = 0;
    const Latency l = measure(
        rx, started ? presses : -5,
        [&] {
            pressing = e2e::spawn(KQ_KEYQUILL, {"--press", "tab"});
        },
        [&] {
            e2e::waitExit(pressing, 2000);
            e2e::waitExit(e2e::spawn(KQ_KEYQUILL, {"--release", "tab"}), 2000);
        });
    std::printf("\n`keyquill --press tab` (the command's start) to first character, %zu presses\n"
                "  median %6.0f us   p99 %6.0f us   missed %d%s\n",
                l.us.size() + size_t(l.missed), median(l.us), percentile(l.us, 99), l.missed,
                started ? "" : "   (keyquill did not start)");
    std::fflush(stdout);
    kq.stop();
    unsetenv("DBUS_SESSION_BUS_ADDRESS");
}

// The same on a headless GNOME Shell: with Keyquill's extension, or without it through the portals
// (GNOME 48 and later), GNOME's dialogs allowed as a user does. TAB to the first character, and the
// 500- and 10,000-character lines (the extension pastes the long one whole).
int runGnome(bool portal, int presses, int runs, size_t chars) {
    e2e::PrivateXvfb xvfb;
    e2e::GnomeSession gnome;
    std::string error;
    if (!xvfb.start(&error) || !gnome.start(portal ? "" : KQ_GNOME_EXTENSION, &error))
        return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    if (portal) gnome.allowKeyquill(KQ_KEYQUILL);
    Receiver rx;
    if (!rx.start(gnome.env(false))) return std::fprintf(stderr, "the recording client did not start\n"), 1;
    for (const std::string& var : gnome.env(false))
        putenv(strdup(var.c_str()));
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    e2e::Desktop desk;
    KeyquillDriver kq(desk, e2e::RuntimeDir("kq-bench-gnome").string());
    // Without the extension a notice at start says what GNOME will ask.
    if (!desk.ok() || !(portal ? kq.startPastNotice(KQ_KEYQUILL) : kq.start(KQ_KEYQUILL)))
        return std::fprintf(stderr, "keyquill did not start\n"), 1;
    kq.loadList("latency.txt", "x");
    kq.enableWithoutBackspace();
    const auto tap = [&] { gnome.key(kTab, true), gnome.key(kTab, false); };
    if (portal) {
        // The keys are bound once the user has allowed them; the first line asks to type.
        if (!e2e::WaitPortal([&] { return gnome.portal(); }, true))
            return std::fprintf(stderr, "GNOME did not bind the keys\n"), 1;
        const size_t before = rx.presses();
        tap();
        if (rx.awaitPresses(before + 1, 30000).size() <= before)
            return std::fprintf(stderr, "GNOME did not let keyquill type\n"), 1;
    }
    e2e::Desktop::settle(500);
    const Latency tab = measure(rx, presses, tap, [] {});
    std::printf("\nThe real keyquill on a headless GNOME Shell %d %s, into the recording client\n"
                "TAB to first character, %zu presses\n  median %6.0f us   p99 %6.0f us   missed %d\n",
                e2e::GnomeSession::version(), portal ? "through the portals" : "with its extension",
                tab.us.size() + size_t(tab.missed), median(tab.us), percentile(tab.us, 99), tab.missed);
    for (const size_t length : {size_t(500), chars}) {
        kq.loadList("long" + std::to_string(length) + ".txt", LowercaseWords(length));
        const bool pasted = !portal && length > 1000;
        std::vector<double> seconds;
        for (int r = 0; r < runs; ++r) {
            e2e::Desktop::settle(500);
            const size_t before = rx.presses();
            const auto sent = Clock::now();
            tap();
            // A pasted line is one key (Shift+Insert) to the client: its text comes at once.
            const auto t = rx.awaitPresses(before + (pasted ? 2 : length), 3000);
            seconds.push_back(t.size() >= before + (pasted ? 2 : length) ? bench::seconds(sent, t.back())
                                                                         : 0);
        }
        std::printf(pasted ? "%zu characters, pasted whole: TAB to its paste keys received, median %.3f s\n"
                           : "%zu characters: TAB to last key received, median %.3f s (%.0f characters/s)\n",
                    length, median(seconds), length / std::max(1e-9, median(seconds)));
    }
    std::fflush(stdout);
    return 0;
}

int run(int presses, int runs, size_t chars) {
    e2e::PrivateXvfb xvfb;
    e2e::SwaySession sway;
    std::string error;
    if (!xvfb.start(&error) || !sway.start(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const std::string dir = e2e::RuntimeDir("kq-bench-wayland").string();
    e2e::UserKeyboard user;
    Receiver rx;
    if (!user.start(KQ_WL_KEYS, sway.env(false)) || !rx.start(sway.env(false)))
        return std::fprintf(stderr, "the test keyboard or the recording client did not start\n"), 1;
    for (const std::string& var : sway.env(false))
        putenv(strdup(var.c_str())); // for keyquill, started below
    setenv("QT_QPA_PLATFORM", "xcb", 1);
    e2e::Desktop desk;
    KeyquillDriver kq(desk, dir);
    if (!desk.ok() || !kq.start(KQ_KEYQUILL)) return std::fprintf(stderr, "keyquill did not start\n"), 1;
    kq.loadList("latency.txt", "x");
    kq.enableWithoutBackspace();
    e2e::Desktop::settle(500);

    const Latency tab = measure(
        rx, presses, [&] { user.tap(kTab); }, [] {});
    std::printf("The real keyquill on a headless sway, typing through a virtual keyboard into a recording "
                "client\n\n");
    std::printf("TAB to first character, %zu presses\n  median %6.0f us   p99 %6.0f us   missed %d\n",
                tab.us.size() + size_t(tab.missed), median(tab.us), percentile(tab.us, 99), tab.missed);
    std::fflush(stdout);

    for (const size_t length : {size_t(500), chars}) {
        const std::string text = LowercaseWords(length);
        kq.loadList("long" + std::to_string(length) + ".txt", text);
        e2e::Desktop::settle(500);
        std::vector<double> kqRates, wtypeRates, wtypeTotal;
        // Keyquill's runs first: a wtype that lingers after its last key slows the compositor
        // for whoever types next.
        for (int r = 0; r < runs; ++r) {
            e2e::Desktop::settle(500); // a person's pause: the pacing's burst is whole again
            const size_t before = rx.presses();
            user.tap(kTab);
            kqRates.push_back(rate(rx.awaitPresses(before + length, 3000), before, length));
        }
        for (int r = 0; r < runs; ++r) {
            const size_t before = rx.presses();
            const auto started = Clock::now();
            const pid_t pid = e2e::spawn("env", concat(sway.env(false), {"wtype", text}));
            const auto t = rx.awaitPresses(before + length, 3000);
            if (!e2e::waitExit(pid, 2000)) e2e::terminate(pid);
            wtypeRates.push_back(rate(t, before, length));
            wtypeTotal.push_back(t.size() >= before + length ? seconds(started, t.back()) : 0);
        }
        std::printf("\nThroughput, %zu characters of lowercase words, first to last key received\n", length);
        std::printf("  keyquill  median %7.0f keys/s  runs:%s\n", median(kqRates), list(kqRates).c_str());
        std::printf("  wtype     median %7.0f keys/s  runs:%s (start to last key: median %.3f s)\n",
                    median(wtypeRates), list(wtypeRates).c_str(), median(wtypeTotal));
        std::printf("  ratio     %.1fx\n", median(kqRates) / std::max(1.0, median(wtypeRates)));
        std::fflush(stdout);
    }
    triggerLatency(kq, rx, presses);
    return 0;
}

} // namespace
} // namespace kq

int main(int argc, char** argv) {
    int presses = 100, runs = 3, chars = 10000;
    const std::string first = argc > 1 ? argv[1] : "";
    const bool gnome = first == "--gnome" || first == "--gnome-portal";
    for (int i = gnome ? 2 : 1; i + 1 < argc; i += 2) {
        const std::string a = argv[i];
        (a == "--presses" ? presses : a == "--chars" ? chars : runs) = std::max(1, std::atoi(argv[i + 1]));
    }
    const auto length = static_cast<size_t>(chars);
    return gnome ? kq::runGnome(first == "--gnome-portal", presses, runs, length)
                 : kq::run(presses, runs, length);
}
