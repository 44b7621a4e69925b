// Typing benchmark on a real X server, all in one run against one server and one client:
//  - throughput of Keyquill's typer against `xdotool type --delay 0` (10,000 ASCII characters);
//  - exactness with 30 distinct characters the keymap lacks (Greek and Cyrillic);
//  - latency from a hotkey press to the first typed character reaching a window.
// Usage: kq_bench_typing [--use-display] [--repeats N] [--presses N]
//   --use-display  type into the server named by $DISPLAY instead of a private Xvfb
// Times are wall-clock (steady clock); each throughput figure is the median of the runs.
#include "bench_support.h"
#include "engine/dispatch.h"
#include "engine/playback.h"
#include "engine/utf8.h"
#include "keyboard_world.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <optional>
#include <poll.h>
#include <random>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace kq {
namespace {

using namespace bench;
using e2e::KeyboardWorld;

struct Options {
    bool useDisplay = false;
    int repeats = 3;
    int presses = 200;
    int warmup = 5; // presses not counted: the first ones read the keymap and warm the caches
};

// Words of letters and digits with punctuation between them. The key notation's own characters
// (+ ^ % ~ ( ) { }) are left out, so the very same text goes to both tools unescaped.
std::string asciiText(size_t length) {
    const std::string letters = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ";
    const std::string digits = "0123456789";
    const std::string punct = "!\"#$&'*,-./:;<=>?@[\\]_`|";
    std::mt19937 rng(1234);
    std::string out = punct + " "; // every punctuation character at least once
    while (out.size() < length) {
        const unsigned len = 2 + rng() % 8;
        for (unsigned i = 0; i < len; ++i)
            out += rng() % 6 == 0 ? digits[rng() % digits.size()] : letters[rng() % letters.size()];
        if (rng() % 3 == 0) out += punct[rng() % punct.size()];
        out += ' ';
    }
    out.resize(length);
    return out;
}

// 15 Greek and 15 Cyrillic letters: none is on the US keymap.
const std::u32string kMissing = U"αβγδεζηθλμξπσφψбгджзийлпфцчшщы";

std::string missingText(size_t length) {
    std::mt19937 rng(5678);
    std::u32string out = kMissing + U' ';
    while (out.size() < length) {
        const unsigned len = 3 + rng() % 6;
        for (unsigned i = 0; i < len; ++i)
            out += rng() % 2 ? kMissing[rng() % kMissing.size()] : static_cast<char32_t>(U'a' + rng() % 26);
        out += U' ';
    }
    out.resize(length);
    return EncodeUtf8(out);
}

std::u32string decode(const std::string& bytes) {
    if (auto text = DecodeUtf8(bytes)) return *text;
    return {bytes.begin(), bytes.end()}; // not UTF-8: count bytes, it is wrong either way
}

struct Mismatch {
    size_t lost = 0;  // expected characters that did not arrive (in order)
    size_t extra = 0; // characters that arrived but were not expected
};

// From the longest common subsequence, so a dropped character counts once instead of shifting
// everything after it. The common head and tail are cut off first: typical runs are exact.
Mismatch compareText(std::u32string_view want, std::u32string_view got) {
    size_t head = 0;
    while (head < want.size() && head < got.size() && want[head] == got[head])
        ++head;
    want.remove_prefix(head);
    got.remove_prefix(head);
    while (!want.empty() && !got.empty() && want.back() == got.back())
        want.remove_suffix(1), got.remove_suffix(1);
    std::vector<uint32_t> prev(got.size() + 1), cur(got.size() + 1);
    for (char32_t w : want) {
        for (size_t j = 0; j < got.size(); ++j)
            cur[j + 1] = w == got[j] ? prev[j] + 1 : std::max(prev[j + 1], cur[j]);
        std::swap(prev, cur);
    }
    const size_t common = prev[got.size()];
    return {want.size() - common, got.size() - common};
}

struct Outcome {
    double charsPerSecond = 0;
    Mismatch mismatch;
    std::string failure; // empty when the tool ran
};

// Waits until the target holds the whole text once the sender is done, or until nothing has
// arrived for a while (lost characters). The end time is when the text last grew.
Outcome awaitDelivery(KeyboardWorld& world, const std::string& expected, Clock::time_point start,
                      const std::function<bool()>& senderDone) {
    size_t last = 0;
    auto lastGrowth = start;
    for (;;) {
        world.keyboard->processPendingEvents(); // the filter's connection sees every typed key
        const size_t size = world.text().size();
        const auto now = Clock::now();
        if (size != last) last = size, lastGrowth = now;
        const bool done = senderDone();
        if (done && size >= expected.size()) break;
        if (done && now - lastGrowth > std::chrono::milliseconds(1500)) break;
        if (now - start > std::chrono::seconds(300)) break;
        std::this_thread::sleep_for(std::chrono::microseconds(500));
    }
    world.pump(200); // late or doubled characters still count as wrong
    const std::u32string want = decode(expected);
    Outcome out;
    out.mismatch = compareText(want, decode(world.text()));
    out.charsPerSecond = static_cast<double>(want.size()) / std::max(1e-9, seconds(start, lastGrowth));
    return out;
}

Outcome typeWithKeyquill(KeyboardWorld& world, const std::string& text) {
    world.clearTarget();
    const auto start = Clock::now();
    try {
        SendKeys(world.keyboard->typer(), text);
    } catch (const PlaybackError& e) {
        return {0, {}, e.what()};
    }
    return awaitDelivery(world, text, start, [] { return true; });
}

Outcome typeWithXdotool(KeyboardWorld& world, const std::string& text, const std::string& file) {
    std::ofstream(file, std::ios::binary) << text;
    world.clearTarget();
    const auto start = Clock::now();
    const pid_t pid = e2e::spawn("xdotool", {"type", "--delay", "0", "--file", file});
    if (!pid) return {0, {}, "cannot start xdotool"};
    int status = 0;
    bool exited = false;
    auto done = [&] { return exited || (exited = waitpid(pid, &status, WNOHANG) == pid); };
    Outcome out = awaitDelivery(world, text, start, done);
    if (!exited) e2e::terminate(pid);
    if (exited && WIFEXITED(status) && WEXITSTATUS(status) == 127) return {0, {}, "xdotool not found"};
    return out;
}

std::string joined(const std::vector<Outcome>& runs, const std::function<std::string(const Outcome&)>& f) {
    std::string s;
    for (const auto& r : runs)
        s += (s.empty() ? "" : " ") + f(r);
    return s;
}

void printRow(const char* tool, const std::vector<Outcome>& runs) {
    for (const auto& r : runs) {
        if (r.failure.empty()) continue;
        std::printf("  %-9s  FAILED: %s\n", tool, r.failure.c_str());
        return;
    }
    std::vector<double> cps;
    for (const auto& r : runs)
        cps.push_back(r.charsPerSecond);
    auto num = [](double v) { return std::to_string(static_cast<long>(v + 0.5)); };
    std::printf("  %-9s  %9s  %-26s  %-14s  %-14s\n", tool, num(median(cps)).c_str(),
                joined(runs, [&](const Outcome& r) { return num(r.charsPerSecond); }).c_str(),
                joined(runs, [](const Outcome& r) { return std::to_string(r.mismatch.lost); }).c_str(),
                joined(runs, [](const Outcome& r) { return std::to_string(r.mismatch.extra); }).c_str());
}

void compareTools(KeyboardWorld& world, const char* title, const std::string& text, const Options& opt) {
    const std::string file = "/tmp/kq-bench-typing-" + std::to_string(getpid()) + ".txt";
    std::vector<Outcome> keyquill, xdotool;
    // Alternate the tools so that a slow moment of the machine does not hit only one of them.
    for (int i = 0; i < opt.repeats; ++i) {
        keyquill.push_back(typeWithKeyquill(world, text));
        xdotool.push_back(typeWithXdotool(world, text, file));
    }
    unlink(file.c_str());
    std::printf("\n%s (%zu characters, %d runs)\n", title, decode(text).size(), opt.repeats);
    std::printf("  %-9s  %9s  %-26s  %-14s  %-14s\n", "tool", "chars/s", "chars/s per run", "lost per run",
                "extra per run");
    printRow("keyquill", keyquill);
    printRow("xdotool", xdotool);
}

// Runs the program side (the filter and its playback) on a thread and connection of its own, so
// that the measuring thread is free to read the target's events as they arrive.
class FilterThread {
public:
    explicit FilterThread(KeyboardWorld& world) : m_world(world) {
        install(true);
        m_thread = std::thread([this] {
            while (!m_stop)
                m_world.pump(100, [this] { return m_stop.load(); });
        });
    }
    ~FilterThread() {
        m_stop = true;
        m_thread.join();
        install(false); // the counting callback must not outlive this object
    }
    int keyUps() const { return m_keyUps; }

private:
    void install(bool counting) {
        KeyboardWorld& w = m_world;
        m_world.keyboard->install({[&w](const KeyEvent& e) { return DecideHotkey(w.state, e); },
                                   [&w, this, counting](const HotkeyDecision& d) {
                                       RunHotkeyActions(w.state, d, w);
                                       if (counting && d.action == HotkeyAction::SelectAndClear) ++m_keyUps;
                                   },
                                   nullptr});
    }
    KeyboardWorld& m_world;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_keyUps{0};
};

struct Latency {
    std::vector<double> fromSend; // from just before the XTest press
    std::vector<double> fromSync; // from the return of XSync after it
    int missed = 0;
};

void tapAndMeasure(Display* user, KeyCode tab, Receiver& rx, FilterThread& filter, int index, Latency* out) {
    rx.drain();
    const auto sent = Clock::now();
    XTestFakeKeyEvent(user, tab, True, CurrentTime);
    XSync(user, False);
    const auto synced = Clock::now();
    const auto arrived = rx.awaitPress(XK_x, 2000);
    XTestFakeKeyEvent(user, tab, False, CurrentTime);
    XSync(user, False);
    // The next press must find the latch cleared by this key-up, or it would type nothing.
    const auto end = Clock::now() + std::chrono::seconds(2);
    while (filter.keyUps() <= index && Clock::now() < end)
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(2)); // no person taps faster than this
    if (!out) return;
    if (!arrived) return void(++out->missed);
    out->fromSend.push_back(micros(sent, *arrived));
    out->fromSync.push_back(micros(synced, *arrived));
}

std::optional<Latency> measureLatency(KeyboardWorld& world, const Options& opt) {
    world.load({"x"});
    world.state.MacroEnabled = true;
    world.pump(100); // grabs the hotkey, as switching the mode on does in the program
    Receiver rx;
    if (!rx.open()) return std::nullopt;
    Latency result;
    {
        FilterThread filter(world);
        const KeyCode tab = XKeysymToKeycode(world.user, XK_Tab);
        for (int i = 0; i < opt.warmup + opt.presses; ++i)
            tapAndMeasure(world.user, tab, rx, filter, i, i < opt.warmup ? nullptr : &result);
    }
    world.state.MacroEnabled = false;
    return result;
}

void printLatency(const std::optional<Latency>& r, const Options& opt) {
    std::printf("\nHotkey (TAB) to first typed character in a window, %d presses after %d warm-up\n",
                opt.presses, opt.warmup);
    if (!r) {
        std::printf("  FAILED: could not open the receiving window\n");
        return;
    }
    std::printf("  %-32s  %10s  %10s  %10s\n", "measured from", "median us", "p99 us", "max us");
    auto row = [](const char* name, const std::vector<double>& v) {
        const double mx = v.empty() ? 0 : *std::max_element(v.begin(), v.end());
        std::printf("  %-32s  %10.0f  %10.0f  %10.0f\n", name, median(v), percentile(v, 99), mx);
    };
    row("XTest press after XSync", r->fromSync);
    row("XTest press sent (incl. XSync)", r->fromSend);
    std::printf("  presses without a typed character within 2 s: %d\n", r->missed);
}

bool parseOptions(int argc, char** argv, Options& opt) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--use-display") {
            opt.useDisplay = true;
        } else if ((a == "--repeats" || a == "--presses") && i + 1 < argc) {
            (a == "--repeats" ? opt.repeats : opt.presses) = std::max(1, std::atoi(argv[++i]));
        } else {
            std::fprintf(stderr, "usage: %s [--use-display] [--repeats N] [--presses N]\n", argv[0]);
            return false;
        }
    }
    return true;
}

// xdotool reads multibyte text through the C locale functions: give it a UTF-8 locale.
void ensureUtf8Locale() {
    for (const char* var : {"LC_ALL", "LC_CTYPE", "LANG"}) {
        const char* v = std::getenv(var);
        if (!v || !*v) continue;
        if (std::strstr(v, "UTF-8") || std::strstr(v, "utf8")) return;
        break;
    }
    setenv("LC_ALL", "C.UTF-8", 1);
}

int run(const Options& opt) {
    e2e::PrivateXvfb xvfb;
    std::string error;
    if (!opt.useDisplay && !xvfb.start(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    if (opt.useDisplay && !std::getenv("DISPLAY")) return std::fprintf(stderr, "DISPLAY is not set\n"), 1;
    ensureUtf8Locale();
    KeyboardWorld world;
    if (!world.start(&error)) return std::fprintf(stderr, "cannot set up: %s\n", error.c_str()), 1;
    std::string version = e2e::runCapture("xdotool version 2>/dev/null");
    version.erase(std::remove(version.begin(), version.end(), '\n'), version.end());
    std::printf("Keyquill typing benchmark on display %s; baseline: %s\n", std::getenv("DISPLAY"),
                version.empty() ? "xdotool (version unknown)" : version.c_str());
    std::printf("Wall clock, start of typing until the target client has the last character.\n");
    std::fflush(stdout);
    compareTools(world, "ASCII throughput", asciiText(10000), opt);
    std::fflush(stdout);
    compareTools(world, "30 distinct characters missing from the keymap", missingText(1000), opt);
    std::fflush(stdout);
    printLatency(measureLatency(world, opt), opt);
    return 0;
}

} // namespace
} // namespace kq

int main(int argc, char** argv) {
    // The latency measurement runs the filter on a second thread: Xlib must know before any call.
    XInitThreads();
    kq::Options opt;
    if (!kq::parseOptions(argc, argv, opt)) return 2;
    return kq::run(opt);
}
