// The real keyquill, measured as a user meets it: a list loaded through its own window, "Enabled"
// ticked, "Auto Backspace" off, and a window of another X client focused. XTest presses the hotkey;
// the receiving window timestamps the first typed key.
//  - latency, hotkey press to first character: TAB in the single list, F1 in the multi-slot window;
//  - the same with nothing between, XTest to the receiving window: the floor the X server and one
//    wake set on this machine;
//  - throughput of a 10,000-character line, first to last key received, against
//    `xdotool type --delay 0` of the same text into the same window in the same run;
// all of it without a window manager, under openbox, under openbox with IBus running on a
// keyboard engine (as GNOME runs it), and under xfwm4 where it is installed (with --use-display,
// once on that display as it is).
// Usage: kq_bench_program [--use-display] [--presses N] [--runs N] [--keyquill PROGRAM]
//   --keyquill  start this instead of the built keyquill (a wrapper that profiles it, say)
// Quirk: gtest (through desktop.h) must come before the X11 headers, whose macros break it.
#include "desktop.h"

#include "bench_support.h"
#include "keyquill_driver.h"

#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>

namespace kq {
namespace {

using namespace bench;
using e2e::Desktop;

struct Options {
    bool useDisplay = false;
    int presses = 200;
    int warmup = 5; // not counted: the first presses read the keymap and warm the caches
    int runs = 3;
    std::string keyquill = KQ_KEYQUILL;
};

struct Latency {
    std::vector<double> micros; // XTest press flushed -> first typed key read by the receiver
    int missed = 0;
    std::vector<double> cpuPerPress; // microseconds on a CPU per press, one for each watched process
};

// A process that spends CPU time on each press: its name in the report, and its pid.
struct Watched {
    const char* name;
    pid_t pid;
};

// Time the process has spent on a CPU, in microseconds, as the scheduler counts it.
double CpuMicros(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/schedstat");
    unsigned long long ns = 0;
    in >> ns;
    return static_cast<double>(ns) / 1000.0;
}

// One tap of `kc` as a person makes it: microseconds from the press sent to the "x" it brings read
// by the receiver, nothing when none came.
std::optional<double> TimedTap(Display* dpy, KeyCode kc, Receiver& rx) {
    rx.drain();
    // Flushed, not synced: a round trip here would hide the key arriving meanwhile.
    const auto sent = Clock::now();
    XTestFakeKeyEvent(dpy, kc, True, CurrentTime);
    XFlush(dpy);
    const auto arrived = rx.awaitPress(XK_x, 2000);
    XTestFakeKeyEvent(dpy, kc, False, CurrentTime);
    XSync(dpy, False);
    // No person taps faster; the key-up must also have cleared the latch.
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    if (!arrived) return std::nullopt;
    return micros(sent, *arrived);
}

class Session {
public:
    Session(Desktop& desk, Receiver& rx, const std::string& dir)
        : kq(desk, dir), m_desk(desk), m_rx(rx), m_dir(dir) {
        m_user = XOpenDisplay(nullptr);
    }
    ~Session() {
        if (m_user) XCloseDisplay(m_user);
    }
    bool start(const std::string& program) { return kq.start(program) && m_user; }
    // Switches to the multi-slot window and gives row 0 (F1) the text "x", enabled.
    bool multiSlotRow() {
        const Window multi = kq.switchToMultiSlot();
        if (multi) kq.fillRow(multi, 0, "x");
        return multi != 0;
    }
    Latency latency(KeySym hotkey, const Options& opt, const std::vector<Watched>& watched) {
        m_desk.focus(m_rx.window());
        // The pointer rests in the application being typed into, as it would for a person
        // (over keyquill's window it would bring it focus events of every grab).
        const e2e::Rect r = m_desk.geometry(m_rx.window());
        XTestFakeMotionEvent(m_user, -1, r.x + r.w / 2, r.y + r.h / 2, CurrentTime);
        XSync(m_user, False);
        const KeyCode kc = XKeysymToKeycode(m_user, hotkey);
        Latency out;
        std::vector<double> cpuBefore;
        for (int i = 0; i < opt.warmup + opt.presses; ++i) {
            if (i == opt.warmup)
                for (const Watched& w : watched)
                    cpuBefore.push_back(CpuMicros(w.pid));
            const std::optional<double> us = TimedTap(m_user, kc, m_rx);
            if (i < opt.warmup) continue;
            if (!us) {
                ++out.missed;
                continue;
            }
            out.micros.push_back(*us);
        }
        for (size_t w = 0; w < watched.size(); ++w)
            out.cpuPerPress.push_back((CpuMicros(watched[w].pid) - cpuBefore[w]) / opt.presses);
        return out;
    }
    // Characters per second of one line typed by a TAB press; 0 when it did not all arrive.
    double keyquillRate(size_t length) {
        m_rx.drain();
        const KeyCode tab = XKeysymToKeycode(m_user, XK_Tab);
        XTestFakeKeyEvent(m_user, tab, True, CurrentTime);
        XTestFakeKeyEvent(m_user, tab, False, CurrentTime);
        XSync(m_user, False);
        return rate(m_rx.awaitPresses(length, 2000), length);
    }
    double xdotoolRate(const std::string& text) {
        const std::string path = m_dir + "/xdotool.txt";
        std::ofstream(path, std::ios::binary) << text;
        m_rx.drain();
        const pid_t pid = e2e::spawn("xdotool", {"type", "--delay", "0", "--file", path});
        const Receiver::Burst b = m_rx.awaitPresses(text.size(), 2000);
        waitpid(pid, nullptr, 0);
        return rate(b, text.size());
    }

private:
    static double rate(const Receiver::Burst& b, size_t length) {
        if (b.presses < length) return 0;
        return static_cast<double>(length - 1) / std::max(1e-9, seconds(b.first, b.last));
    }

public:
    KeyquillDriver kq;

private:
    Desktop& m_desk;
    Receiver& m_rx;
    std::string m_dir;
    Display* m_user = nullptr;
};

void printLatency(const char* title, const Latency& l, const std::vector<Watched>& watched) {
    const std::vector<double>& v = l.micros;
    std::printf("\n%s, %zu presses (XTest press flushed to first key read)\n", title,
                v.size() + size_t(l.missed));
    std::printf("  median %6.0f us   p99 %6.0f us   max %6.0f us   missed %d\n", median(v), percentile(v, 99),
                v.empty() ? 0.0 : *std::max_element(v.begin(), v.end()), l.missed);
    std::printf("  CPU per press:");
    for (size_t w = 0; w < watched.size(); ++w)
        std::printf(" %s %.0f us%s", watched[w].name, l.cpuPerPress[w], w + 1 < watched.size() ? "," : "\n");
    std::fflush(stdout);
}

void printThroughput(const std::vector<double>& kq, const std::vector<double>& xdo) {
    auto list = [](const std::vector<double>& v) {
        std::string s;
        for (double x : v)
            s += " " + std::to_string(static_cast<long>(x));
        return s;
    };
    std::printf("\nThroughput, 10,000 characters of lowercase words, first to last key received\n");
    std::printf("  keyquill  median %7.0f keys/s  runs:%s\n", median(kq), list(kq).c_str());
    std::printf("  xdotool   median %7.0f keys/s  runs:%s\n", median(xdo), list(xdo).c_str());
    std::printf("  ratio     %.1fx\n", median(kq) / std::max(1.0, median(xdo)));
}

// What no program can beat here: XTest presses of "x" read by the receiving window directly, with
// nothing between (one pass of the X server, one wake of the receiver).
void printFloor(Desktop& desk, Receiver& rx, const Options& opt) {
    Display* dpy = XOpenDisplay(nullptr);
    const KeyCode x = XKeysymToKeycode(dpy, XK_x);
    // A window manager that has just framed the window may still move the focus: tapped until the
    // window gets a key.
    bool reached = false;
    for (int tries = 0; tries < 10 && !reached; ++tries) {
        desk.focus(rx.window());
        reached = TimedTap(dpy, x, rx).has_value();
    }
    std::vector<double> v;
    for (int i = 0; reached && i < opt.warmup + opt.presses; ++i)
        if (const std::optional<double> us = TimedTap(dpy, x, rx); us && i >= opt.warmup) v.push_back(*us);
    XCloseDisplay(dpy);
    if (!reached) return (void)std::printf("\nNothing between: the receiving window got no keys\n");
    std::printf("\nNothing between: XTest press of x to the key read, median %.0f us, p99 %.0f us\n",
                median(v), percentile(v, 99));
}

// One pass: keyquill started, its latency and throughput measured, and stopped again.
// `watched`: the processes besides keyquill and this one whose CPU time per press is reported.
int pass(const Options& opt, Desktop& desk, Receiver& rx, const std::string& dir, const char* where,
         std::vector<Watched> watched) {
    std::printf("\nOn display %s, %s", std::getenv("DISPLAY"), where);
    printFloor(desk, rx, opt);
    Session s(desk, rx, dir);
    if (!s.start(opt.keyquill)) return std::fprintf(stderr, "keyquill did not show its window\n"), 1;
    watched.insert(watched.begin(), {"keyquill", s.kq.pid()});
    watched.push_back({"this benchmark (presses, receiver)", getpid()});
    std::printf("The real keyquill:\n");
    s.kq.loadList("latency.txt", "x");
    s.kq.enableWithoutBackspace();
    printLatency("Single list: TAB to first character", s.latency(XK_Tab, opt, watched), watched);

    const std::string text = LowercaseWords(10000);
    s.kq.loadList("long.txt", text);
    desk.focus(rx.window());
    std::vector<double> kq, xdo;
    for (int i = 0; i < opt.runs; ++i) { // alternated, so a slow moment does not hit one tool only
        kq.push_back(s.keyquillRate(text.size()));
        xdo.push_back(s.xdotoolRate(text));
    }
    printThroughput(kq, xdo);

    if (!s.multiSlotRow()) return std::fprintf(stderr, "the multi-slot window did not appear\n"), 1;
    printLatency("Multi-slot: F1 to first character", s.latency(XK_F1, opt, watched), watched);
    s.kq.stop();
    return 0;
}

// The receiving window's parent: the root until a window manager frames it.
Window parentOf(Display* dpy, Window w) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, w, &root, &parent, &children, &n)) return 0;
    if (children) XFree(children);
    return parent;
}

// IBus on a keyboard engine, on a bus of its own, for the keyquill started next: what GNOME runs
// on X11 for each layout the user has. 0 when IBus is not installed or did not start.
pid_t StartIBus(const std::string& dir, pid_t* bus) {
    if (!std::filesystem::exists("/usr/bin/ibus-daemon")) return 0;
    const std::string address = e2e::StartPrivateBus(bus);
    if (address.empty()) return 0;
    setenv("DBUS_SESSION_BUS_ADDRESS", address.c_str(), 1);
    // IBus writes its own address in the configuration folder.
    const std::string folder = dir + "/ibus-config";
    std::filesystem::create_directories(folder);
    const pid_t daemon = e2e::spawnWith({"XDG_CONFIG_HOME=" + folder, "GSETTINGS_BACKEND=memory"},
                                        {"ibus-daemon", "--panel=disable"});
    std::string ibus;
    e2e::WaitUntil([&] {
        ibus = e2e::runCapture("sed -n 's/^IBUS_ADDRESS=//p' " + folder + "/ibus/bus/* 2>/dev/null");
        return !ibus.empty();
    });
    if (ibus.empty()) return e2e::terminate(daemon), 0;
    setenv("IBUS_ADDRESS", ibus.substr(0, ibus.find('\n')).c_str(), 1);
    const bool keyboardEngine = e2e::WaitUntil([] {
        e2e::runCapture("ibus engine xkb:us::eng 2>/dev/null");
        return e2e::runCapture("ibus engine 2>/dev/null") == "xkb:us::eng\n";
    });
    return keyboardEngine ? daemon : (e2e::terminate(daemon), 0);
}

// A window manager started, once it has framed the receiving window; 0 when it did not.
pid_t StartWindowManager(Desktop& desk, Receiver& rx, const char* name) {
    const pid_t wm = e2e::spawn(name, {});
    const Window root = DefaultRootWindow(desk.display());
    if (e2e::WaitUntil([&] { return parentOf(desk.display(), rx.window()) != root; })) return wm;
    std::fprintf(stderr, "%s did not frame the receiving window\n", name);
    e2e::terminate(wm);
    return 0;
}

// Stopped, once it has given the receiving window back to the root.
void StopWindowManager(Desktop& desk, Receiver& rx, pid_t wm) {
    e2e::terminate(wm);
    const Window root = DefaultRootWindow(desk.display());
    e2e::WaitUntil([&] { return parentOf(desk.display(), rx.window()) == root; });
}

// Under openbox, alone and with IBus on a keyboard engine.
int underOpenbox(const Options& opt, Desktop& desk, Receiver& rx, const std::string& dir, pid_t server) {
    const pid_t wm = StartWindowManager(desk, rx, "openbox");
    if (!wm) return 1;
    int r = pass(opt, desk, rx, dir, "under openbox", {{"X server", server}, {"openbox", wm}});
    pid_t bus = 0;
    if (const pid_t ibus = r == 0 ? StartIBus(dir, &bus) : 0) {
        r = pass(opt, desk, rx, dir, "under openbox, with IBus on a keyboard engine (as GNOME runs it)",
                 {{"X server", server}, {"openbox", wm}, {"IBus", ibus}});
        e2e::terminate(ibus);
    } else if (r == 0) {
        std::printf("\nIBus did not start: no pass with it\n");
    }
    if (bus > 0) kill(bus, SIGTERM);
    unsetenv("IBUS_ADDRESS"), unsetenv("DBUS_SESSION_BUS_ADDRESS");
    StopWindowManager(desk, rx, wm);
    return r;
}

// On a private Xvfb: without a window manager, under openbox (also with IBus), and under xfwm4
// (Xfce's) where it is installed, as users have them.
int run(const Options& opt) {
    e2e::PrivateXvfb xvfb;
    std::string error;
    if (!opt.useDisplay && !xvfb.start(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const std::string dir = e2e::RuntimeDir("kq-bench-program").string();
    Receiver rx;
    Desktop desk;
    if (!rx.open() || !desk.ok()) return std::fprintf(stderr, "cannot open the display\n"), 1;
    if (opt.useDisplay) return pass(opt, desk, rx, dir, "as it is", {});
    if (const int r = pass(opt, desk, rx, dir, "without a window manager", {{"X server", xvfb.pid()}}))
        return r;
    if (const int r = underOpenbox(opt, desk, rx, dir, xvfb.pid())) return r;
    if (!std::filesystem::exists("/usr/bin/xfwm4"))
        return std::printf("\nxfwm4 is not installed: no pass under it\n"), 0;
    const pid_t wm = StartWindowManager(desk, rx, "xfwm4");
    if (!wm) return 1;
    const int r = pass(opt, desk, rx, dir, "under xfwm4", {{"X server", xvfb.pid()}, {"xfwm4", wm}});
    StopWindowManager(desk, rx, wm);
    return r;
}

} // namespace
} // namespace kq

int main(int argc, char** argv) {
    kq::Options opt;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--use-display") {
            opt.useDisplay = true;
        } else if ((a == "--presses" || a == "--runs") && i + 1 < argc) {
            (a == "--presses" ? opt.presses : opt.runs) = std::max(1, std::atoi(argv[++i]));
        } else if (a == "--keyquill" && i + 1 < argc) {
            opt.keyquill = argv[++i];
        } else {
            std::fprintf(stderr, "usage: %s [--use-display] [--presses N] [--runs N] [--keyquill PROGRAM]\n",
                         argv[0]);
            return 2;
        }
    }
    return kq::run(opt);
}
