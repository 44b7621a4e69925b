#include "platform/sway/swaykeyboard.h"

#include "platform/sway/swaybindings.h"
#include "platform/sway/swayipc.h"
#include "platform/sway/swaywatchdog.h"
#include "platform/wayland/virtualkeyboardtyper.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>
#include <utility>

namespace kq {
namespace {

constexpr char kTag[] = "keyquill";

[[noreturn]] void exitSessionGone() {
    static const char line[] = "keyquill: the sway session went away; exiting\n";
    (void)!::write(2, line, sizeof line - 1);
    ::_exit(1);
}

std::vector<Hotkey> minus(const std::vector<Hotkey>& a, const std::vector<Hotkey>& b) {
    std::vector<Hotkey> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

struct SwayKeyboard::Impl : WindowOpacity {
    SwayIpc commands;
    SwayIpc events;
    SwayWatchdog watchdog;
    std::unique_ptr<VirtualKeyboardTyper> typer;
    std::vector<Hotkey> bound; // sorted: what sway has bound for us now

    void run(const std::string& cmds) {
        std::string reply;
        if (cmds.empty()) return;
        if (!commands.command(cmds, &reply)) exitSessionGone();
        if (!SwayCommandSucceeded(reply))
            std::fprintf(stderr, "keyquill: sway refused some key bindings: %.200s\n", reply.c_str());
    }

    void syncBindings(const std::vector<Hotkey>& target, HotkeyQueue& queue) {
        if (target == bound) return;
        run(SwayBindingCommands(minus(bound, target), kTag, false));
        run(SwayBindingCommands(minus(target, bound), kTag, true));
        bound = target;
        queue.keepOnly(bound);
        const std::string undo = SwayBindingCommands(bound, kTag, false);
        watchdog.arm(undo.empty() ? std::string() : SwayIpc::frame(SwayIpc::kRunCommand, undo));
    }

    void setOpacity(const std::string& title, double opacity) override {
        std::string reply; // a window not mapped yet matches nothing: that is no error here
        if (!commands.command(SwayOpacityCommand(::getpid(), title, opacity), &reply)) exitSessionGone();
    }

    // Quirk: sway applies its input configuration to every keyboard, our virtual one included,
    // whenever it reloads its configuration or runs an input command. Our keymap is then gone
    // and the keys we send mean other characters, so it goes up again before the next key.
    bool keymapStale = false;
    bool rebind = false; // sway reloaded its configuration, which drops run-time bindings

    void collect(HotkeyQueue& queue) {
        bool closed = false;
        for (const std::string& event : events.readEvents(&closed)) {
            if (const auto key = ParseSwayBindingEvent(event, kTag)) {
                queue.push(key->key, key->release);
                continue;
            }
            const auto change = JsonStringField(event, "change");
            if (change == "reload") {
                bound.clear();
                rebind = keymapStale = true;
            } else if (change == "xkb_keymap" || change == "xkb_layout") {
                keymapStale = true;
            }
        }
        if (closed) exitSessionGone();
    }
};

std::unique_ptr<SwayKeyboard> SwayKeyboard::open(std::string* error) {
    const char* socket = std::getenv("SWAYSOCK");
    if (!socket || !*socket) {
        if (error) *error = "SWAYSOCK is not set";
        return nullptr;
    }
    auto impl = std::make_unique<Impl>();
    if (!impl->commands.connect(socket, error) || !impl->events.connect(socket, error)) return nullptr;
    if (!impl->events.subscribe("[\"binding\", \"workspace\", \"input\"]")) {
        if (error) *error = "sway refused to report binding events";
        return nullptr;
    }
    impl->typer = VirtualKeyboardTyper::open(error);
    if (!impl->typer || !impl->watchdog.start(socket, error)) return nullptr;
    return std::unique_ptr<SwayKeyboard>(new SwayKeyboard(std::move(impl)));
}

SwayKeyboard::SwayKeyboard(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {
    // Events read while a line is typed are kept: hotkeys queue up for after the line.
    m_impl->typer->watchKeymap([this] {
        m_impl->collect(m_queue);
        return std::exchange(m_impl->keymapStale, false);
    });
}

SwayKeyboard::~SwayKeyboard() {
    remove();
}

int SwayKeyboard::eventFd() const {
    return m_impl->events.fd();
}

WindowOpacity* SwayKeyboard::windowOpacity() {
    return m_impl.get();
}

KeystrokeSink& SwayKeyboard::typer() {
    return *m_impl->typer;
}

void SwayKeyboard::bind(const std::vector<Hotkey>& keys) {
    m_impl->syncBindings(keys, m_queue);
}

void SwayKeyboard::processPendingEvents() {
    m_impl->collect(m_queue);
    if (std::exchange(m_impl->rebind, false)) bindNow();
    if (!m_impl->typer->alive()) exitSessionGone();
    runQueue();
}

} // namespace kq
