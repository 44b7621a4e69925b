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
    playback = std::make_unique<Playback>(state, list, rows, keyboard->typer(), *this);
    list.state = &state, list.playback = playback.get();
    const std::string base = "/tmp/kq-e2e-" + std::to_string(getpid());
    m_textPath = base + "-text";
    m_eventsPath = base + "-events";
    if (target.empty()) {
        m_target = spawn(KQ_E2E_TARGET, {m_textPath, m_eventsPath});
    } else {
        std::vector<std::string> args(target.begin() + 1, target.end());
        args.insert(args.end(), {m_textPath, m_eventsPath});
        m_target = spawn(target.front(), args);
    }
    const bool mapped = pump(10000, [&] { return events().find("MAPPED") != std::string::npos; });
    if (!mapped) return error && (*error = "the target window did not appear", false);
    const Window window = std::strtoul(events().substr(events().find("MAPPED") + 7).c_str(), nullptr, 16);
    XWindowAttributes attrs{};
    for (int i = 0; i < 500 && XGetWindowAttributes(user, window, &attrs) && attrs.map_state != IsViewable;
         ++i)
        pump(10);
    XSetInputFocus(user, window, RevertToParent, CurrentTime);
    XSync(user, False);
    keyboard->install({[this](const HookEvent& e) { return DecideHook(state, e); },
                       [this](const HookDecision& d) { RunHookActions(state, d, *this); }});
    state.MacroMode = ModeSingleList;
    state.BindKey = 9;
    return true;
}

KeyboardWorld::~KeyboardWorld() {
    terminate(m_target);
    keyboard.reset();
    if (user) XCloseDisplay(user);
    unlink(m_textPath.c_str());
    unlink(m_eventsPath.c_str());
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
        if (done && done()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        pollfd pfd{keyboard ? keyboard->connectionFd() : -1, POLLIN, 0};
        poll(&pfd, 1, 5);
    }
}

bool KeyboardWorld::waitForText(const std::string& expected, int ms) {
    return pump(ms, [&] { return text().size() >= expected.size(); }) && text() == expected;
}

void KeyboardWorld::clearTarget() {
    pump(200);
    (void)!truncate(m_textPath.c_str(), 0);
    (void)!truncate(m_eventsPath.c_str(), 0);
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
