#include "keyboard_world.h"

#include <X11/XKBlib.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <unistd.h>

namespace kq::e2e {

bool KeyboardWorld::start(std::string* error, SpareTimings timings, const std::vector<std::string>& target) {
    user = XOpenDisplay(nullptr);
    keyboard = X11Keyboard::open(nullptr, error, timings);
    if (!user || !keyboard) return false;
    sender = std::make_unique<DirectInputSink>(keyboard->typer(), [this] { return keyboard->layoutName(); });
    playback = std::make_unique<Playback>(state, list, rows, *sender, *this);
    list.state = &state, list.playback = playback.get();
    m_main = openTarget("main", target);
    if (!m_main.window) return error && (*error = "the target window did not appear", false);
    focus(m_main.window);
    keyboard->install({[this](const KeyEvent& e) { return DecideHotkey(state, e); },
                       [this](const HotkeyDecision& d) { RunHotkeyActions(state, d, *this); }, nullptr});
    state.MacroMode = ModeSingleList;
    state.BindKey = Hotkey::Tab;
    return true;
}

KeyboardWorld::Target KeyboardWorld::openTarget(const std::string& name,
                                                const std::vector<std::string>& command) {
    Target t;
    const std::string base = "/tmp/kq-e2e-" + std::to_string(getpid()) + "-" + name;
    t.textPath = base + "-text";
    t.eventsPath = base + "-events";
    (void)!truncate(t.eventsPath.c_str(), 0);
    if (command.empty()) {
        t.pid = spawn(KQ_E2E_TARGET, {t.textPath, t.eventsPath});
    } else {
        std::vector<std::string> args(command.begin() + 1, command.end());
        args.insert(args.end(), {t.textPath, t.eventsPath});
        t.pid = spawn(command.front(), args);
    }
    if (name != "main") m_others.push_back(t);
    const auto mapped = [&] { return readFile(t.eventsPath).find("MAPPED") != std::string::npos; };
    if (!pump(10000, mapped)) return t;
    const std::string ev = readFile(t.eventsPath);
    const Window window = std::strtoul(ev.substr(ev.find("MAPPED") + 7).c_str(), nullptr, 16);
    XWindowAttributes attrs{};
    pump(5000, [&] { return !XGetWindowAttributes(user, window, &attrs) || attrs.map_state == IsViewable; });
    t.window = window;
    return t;
}

void KeyboardWorld::focus(Window window) {
    XSetInputFocus(user, window, RevertToParent, CurrentTime);
    XSync(user, False);
}

bool KeyboardWorld::replaceTarget() {
    terminate(m_main.pid);
    unlink(m_main.textPath.c_str());
    m_main = openTarget("main");
    focus(m_main.window);
    return m_main.window != 0;
}

KeyboardWorld::~KeyboardWorld() {
    m_others.push_back(m_main);
    for (const Target& t : m_others) {
        terminate(t.pid);
        unlink(t.textPath.c_str());
        unlink(t.eventsPath.c_str());
    }
    keyboard.reset();
    if (user) XCloseDisplay(user);
}

void KeyboardWorld::fakeKey(unsigned long keysym, bool down) {
    // The program has re-grabbed for the current state by the time a person presses a key.
    if (down) keyboard->setWatchedKeys(KeysThatMaySwallow(state));
    XTestFakeKeyEvent(user, XKeysymToKeycode(user, keysym), down, CurrentTime);
    XSync(user, False);
}

bool KeyboardWorld::pump(int ms, const std::function<bool()>& done) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    for (;;) {
        if (keyboard) {
            keyboard->setWatchedKeys(KeysThatMaySwallow(state));
            keyboard->processPendingEvents();
        }
        if (sender) sender->giveBack(false);
        if (done && done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        pollfd pfd{keyboard ? keyboard->eventFd() : -1, POLLIN, 0};
        poll(&pfd, 1, 5);
    }
}

void KeyboardWorld::catchUp() {
    // Reading the lock is a round trip on the program's own connection: every event sent to it
    // before the answer is queued by then.
    (void)keyboard->CapsLockOn();
    keyboard->processPendingEvents();
}

bool KeyboardWorld::waitForText(const std::string& expected, int ms) {
    return pump(ms, [&] { return text().size() >= expected.size(); }) && text() == expected;
}

void KeyboardWorld::clearTarget() {
    pump(200);
    (void)!truncate(m_main.textPath.c_str(), 0);
    (void)!truncate(m_main.eventsPath.c_str(), 0);
}

std::vector<int> KeyboardWorld::keysDown() const {
    std::vector<int> down;
    char keys[32];
    XQueryKeymap(user, keys);
    for (int kc = 8; kc < 256; ++kc)
        if (keys[kc / 8] & (1 << (kc % 8))) down.push_back(kc);
    return down;
}

} // namespace kq::e2e
