// The soak: the real keyquill types 10,000 lines into a recording window, first from a list of
// 200 lines on TAB, then from twelve slots on F1..F12, about a million characters each way. The
// lines mix ASCII, characters the layout lacks, key notation and parentheses. Reports characters
// lost, doubled or reordered (all must be 0), the keyboard state before and after (identical,
// nothing held), resident memory at the start, after 1,000 presses and at the end, and CPU time
// per press.
// Usage: kq_bench_soak [--presses N] [--verbose]
//   --verbose  print every press that typed something other than its line
// Quirk: gtest (through desktop.h) must come before the X11 headers, whose macros break it.
#include "keyquill_driver.h"

#include "engine/utf8.h"
#include "files/slotsetfile.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <map>
#include <random>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace kq {
namespace {

using e2e::Desktop;

struct Line {
    std::string notation, typed;
};

// 200 lines of about 100 characters. 26 characters the layout lacks recur throughout and 8 more
// appear in one line only: together they fit the spare keycodes, so no line waits for one.
std::vector<Line> makeLines() {
    std::mt19937 rng(7);
    const std::u32string common = U"αβγδεζηθικλμνξπρστφχψωΩ→✓€", rare = U"жзийклмн";
    const std::string plain =
        "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789 .,;:!?-_/'\"@#$&*=<>[]|\\`";
    const std::vector<Line> specials = {{"{+}", "+"}, {"{^}", "^"}, {"{%}", "%"},   {"{~}", "~"},
                                        {"{{}", "{"}, {"{}}", "}"}, {"(x)", "(x)"}, {"~", "\n"}};
    std::vector<Line> lines(200);
    for (size_t i = 0; i < lines.size(); ++i) {
        Line& l = lines[i];
        while (l.typed.size() < 95) {
            const unsigned pick = rng() % 20;
            if (pick < 14) {
                const std::string c(1, plain[rng() % plain.size()]);
                l.notation += c, l.typed += c;
            } else if (pick < 18) {
                const std::string c = EncodeUtf8(std::u32string(1, common[rng() % common.size()]));
                l.notation += c, l.typed += c;
            } else {
                const Line& s = specials[rng() % (specials.size() - 1)];
                l.notation += s.notation, l.typed += s.typed;
            }
        }
        if (i == 100) l.notation += EncodeUtf8(rare), l.typed += EncodeUtf8(rare);
        if (i % 3 == 0) l.notation += "{ENTER}", l.typed += "\n";
    }
    return lines;
}

long rssKb(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string key;
    long value = 0;
    while (in >> key)
        if (key == "VmRSS:" && in >> value) return value;
    return -1;
}

double cpuSeconds(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string field;
    unsigned long utime = 0, stime = 0;
    for (int i = 1; in >> field && i <= 15; ++i)
        if (i == 14)
            utime = std::stoul(field);
        else if (i == 15)
            stime = std::stoul(field);
    return static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

struct KeyboardState {
    std::string keymap;
    unsigned mods = 0, locked = 0, latched = 0;
    int keysDown = 0;
    bool operator==(const KeyboardState&) const = default;
};

KeyboardState keyboardState(Display* d) {
    KeyboardState s;
    s.keymap = e2e::runCapture("xkbcomp -xkb " + std::string(std::getenv("DISPLAY")) + " - 2>/dev/null");
    XkbStateRec st{};
    XkbGetState(d, XkbUseCoreKbd, &st);
    s.mods = st.mods, s.locked = st.locked_mods, s.latched = st.latched_mods;
    char keys[32];
    XQueryKeymap(d, keys);
    for (char k : keys)
        s.keysDown += __builtin_popcount(static_cast<unsigned char>(k));
    return s;
}

void printState(const char* when, const KeyboardState& s, const KeyboardState& ref) {
    std::printf("  keyboard %-34s mods %x, locked %x (Caps Lock %s), latched %x, keys down %d, keymap %s\n",
                when, s.mods, s.locked, (s.locked & LockMask) ? "on" : "off", s.latched, s.keysDown,
                s.keymap == ref.keymap ? "identical" : "DIFFERENT");
}

struct Tally {
    long lost = 0, doubled = 0, reordered = 0, chars = 0;
};

// Compares what one press typed with what it should have, as multisets of code points and then
// in order.
void compare(const std::string& want, const std::string& got, Tally& t) {
    t.chars += static_cast<long>(DecodeUtf8(want).value_or(U"").size());
    if (want == got) return;
    std::map<char32_t, long> count;
    for (char32_t c : DecodeUtf8(want).value_or(U""))
        ++count[c];
    for (char32_t c : DecodeUtf8(got).value_or(U"\uFFFD"))
        --count[c];
    long lost = 0, extra = 0;
    for (const auto& [c, n] : count)
        (n > 0 ? lost : extra) += std::abs(n);
    t.lost += lost, t.doubled += extra;
    if (lost == 0 && extra == 0) ++t.reordered;
}

class Soak {
public:
    Soak(Desktop& desk, bench::KeyquillDriver& kq, std::string textPath, Window target)
        : m_desk(desk), m_kq(kq), m_textPath(std::move(textPath)), m_target(target),
          m_user(XOpenDisplay(nullptr)) {}
    ~Soak() { XCloseDisplay(m_user); }

    // Presses keys[i % keys.size()] `presses` times; each press must type texts[...] likewise.
    void run(const char* title, const std::vector<KeySym>& keys, const std::vector<std::string>& texts,
             int presses) {
        m_desk.focus(m_target);
        Desktop::settle(300);
        const KeyboardState before = keyboardState(m_user);
        const long rssStart = rssKb(m_kq.pid());
        const double cpuStart = cpuSeconds(m_kq.pid());
        long rss1000 = -1;
        Tally t;
        size_t offset = fileSize();
        const auto started = std::chrono::steady_clock::now();
        for (int p = 0; p < presses; ++p) {
            const std::string& want = texts[static_cast<size_t>(p) % texts.size()];
            const KeyCode kc = XKeysymToKeycode(m_user, keys[static_cast<size_t>(p) % keys.size()]);
            XTestFakeKeyEvent(m_user, kc, True, CurrentTime);
            XTestFakeKeyEvent(m_user, kc, False, CurrentTime);
            XSync(m_user, False);
            const std::string got = awaitText(offset, want.size());
            offset += got.size();
            if (got != want && m_verbose)
                std::fprintf(stderr, "press %d typed %zu bytes, not %zu:\n  want %s\n  got  %s\n", p,
                             got.size(), want.size(), want.c_str(), got.c_str());
            compare(want, got, t);
            if (p + 1 == 1000) rss1000 = rssKb(m_kq.pid());
        }
        const double elapsed =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        const double cpu = cpuSeconds(m_kq.pid()) - cpuStart;
        const long rssEnd = rssKb(m_kq.pid());
        // Past the idle time every spare keycode is given back.
        Desktop::settle(11000);
        const KeyboardState after = keyboardState(m_user);
        std::printf("\n%s: %d presses, %ld characters in %.1f s (%.0f chars/s)\n", title, presses, t.chars,
                    elapsed, static_cast<double>(t.chars) / elapsed);
        std::printf("  characters lost %ld, doubled %ld; presses reordered %ld\n", t.lost, t.doubled,
                    t.reordered);
        printState("before the first press:", before, before);
        printState("11 s after the last press:", after, before);
        std::printf("  resident memory: start %ld kB, after 1,000 presses %ld kB, end %ld kB (%+ld kB)\n",
                    rssStart, rss1000, rssEnd, rssEnd - rss1000);
        std::printf("  keyquill CPU time: %.1f s, %.0f us per press\n", cpu, cpu * 1e6 / presses);
        std::fflush(stdout);
        m_ok = m_ok && t.lost == 0 && t.doubled == 0 && t.reordered == 0 && after == before &&
               after.keysDown == 0;
    }
    bool ok() const { return m_ok; }
    bool m_verbose = false; // every press that typed something else, on stderr

private:
    size_t fileSize() const {
        struct stat st {};
        return stat(m_textPath.c_str(), &st) == 0 ? static_cast<size_t>(st.st_size) : 0;
    }
    // The text that arrived after `offset`: `size` bytes, or what came before 2 s without any.
    std::string awaitText(size_t offset, size_t size) const {
        size_t last = fileSize();
        for (auto quietSince = std::chrono::steady_clock::now(); fileSize() < offset + size;) {
            std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (const size_t now = fileSize(); now != last)
                last = now, quietSince = std::chrono::steady_clock::now();
            else if (std::chrono::steady_clock::now() - quietSince > std::chrono::seconds(2))
                break;
        }
        std::ifstream in(m_textPath, std::ios::binary);
        in.seekg(static_cast<std::streamoff>(offset));
        std::string got(std::min(size, fileSize() - std::min(offset, fileSize())), '\0');
        in.read(got.data(), static_cast<std::streamsize>(got.size()));
        return got;
    }
    Desktop& m_desk;
    bench::KeyquillDriver& m_kq;
    std::string m_textPath;
    Window m_target;
    Display* m_user;
    bool m_ok = true;
};

int run(int presses, bool verbose) {
    e2e::PrivateXvfb xvfb;
    std::string error;
    if (!xvfb.start(&error)) return std::fprintf(stderr, "%s\n", error.c_str()), 1;
    const std::string dir = e2e::RuntimeDir("kq-bench-soak").string();
    Desktop desk;
    const std::string textPath = dir + "/received.txt";
    const pid_t target = e2e::spawn(KQ_E2E_TARGET, {textPath, "/dev/null", "kq-soak-target"});
    const Window targetWindow = desk.findWindow("kq-soak-target");
    if (!desk.ok() || !targetWindow) return std::fprintf(stderr, "no target window\n"), 1;
    const KeyboardState clean = keyboardState(desk.display());

    bench::KeyquillDriver kq(desk, dir);
    if (!kq.start(KQ_KEYQUILL)) return std::fprintf(stderr, "keyquill did not show its window\n"), 1;
    std::printf("The real keyquill on display %s, %d presses per mode\n", std::getenv("DISPLAY"), presses);
    const std::vector<Line> lines = makeLines();
    std::string list;
    std::vector<std::string> typed;
    for (const Line& l : lines)
        list += (list.empty() ? "" : "\r\n") + l.notation, typed.push_back(l.typed);
    kq.loadList("soak.txt", list);
    kq.enableWithoutBackspace();
    Soak soak(desk, kq, textPath, targetWindow);
    soak.m_verbose = verbose;
    soak.run("Single list, TAB", {XK_Tab}, typed, presses);

    SlotStore set;
    std::vector<KeySym> fkeys;
    typed.clear();
    for (int s = 1; s <= 12; ++s) {
        set.SlotEnabled(1, s) = true;
        set.SlotCommand(1, s) = lines[static_cast<size_t>(s - 1)].notation;
        typed.push_back(lines[static_cast<size_t>(s - 1)].typed);
        fkeys.push_back(XK_F1 + static_cast<KeySym>(s - 1));
    }
    WriteSlotSetFile(dir + "/slots.txt", set);
    const Window multi = kq.switchToMultiSlot();
    if (!multi) return std::fprintf(stderr, "the multi-slot window did not appear\n"), 1;
    kq.loadSlotSet(multi, dir + "/slots.txt");
    soak.run("Multi-slot, F1..F12", fkeys, typed, presses);

    kq.stop();
    Desktop::settle(500);
    printState("after keyquill ended:", keyboardState(desk.display()), clean);
    e2e::terminate(target);
    std::printf("\n%s\n", soak.ok() ? "PASS" : "FAIL");
    return soak.ok() ? 0 : 1;
}

} // namespace
} // namespace kq

int main(int argc, char** argv) {
    int presses = 10000;
    bool verbose = false;
    for (int i = 1; i < argc; ++i) {
        if (std::string(argv[i]) == "--presses" && i + 1 < argc) {
            presses = std::max(1, std::atoi(argv[++i]));
        } else if (std::string(argv[i]) == "--verbose") {
            verbose = true;
        } else {
            std::fprintf(stderr, "usage: %s [--presses N] [--verbose]\n", argv[0]);
            return 2;
        }
    }
    return kq::run(presses, verbose);
}
