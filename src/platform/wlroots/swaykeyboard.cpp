#include "platform/wlroots/swaykeyboard.h"

#include "platform/hotkeyqueue.h"
#include "platform/wlroots/swaybindings.h"
#include "platform/wlroots/swayipc.h"
#include "platform/wlroots/swaywatchdog.h"
#include "platform/wlroots/waylandtyper.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>

namespace kq {
namespace {

constexpr char kTag[] = "keyquill";

[[noreturn]] void exitSessionGone() {
    static const char line[] = "keyquill: the sway session went away; exiting\n";
    (void)!::write(2, line, sizeof line - 1);
    ::_exit(1);
}

std::vector<uint32_t> minus(const std::vector<uint32_t>& a, const std::vector<uint32_t>& b) {
    std::vector<uint32_t> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

struct SwayKeyboard::Impl : WindowOpacity {
    SwayIpc commands;
    SwayIpc events;
    SwayWatchdog watchdog;
    std::unique_ptr<WaylandTyper> typer;
    Callbacks callbacks;
    bool isInstalled = false;
    std::vector<uint32_t> watched; // sorted
    std::vector<uint32_t> bound;   // sorted: what sway has bound for us now
    HotkeyQueue queue;

    void run(const std::string& cmds) {
        std::string reply;
        if (cmds.empty()) return;
        if (!commands.command(cmds, &reply)) exitSessionGone();
        if (!SwayCommandSucceeded(reply))
            std::fprintf(stderr, "keyquill: sway refused some key bindings: %.200s\n", reply.c_str());
    }

    void syncBindings() {
        const std::vector<uint32_t> target = isInstalled ? watched : std::vector<uint32_t>{};
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

    void collect() {
        bool closed = false;
        for (const std::string& event : events.readEvents(&closed)) {
            if (const auto key = ParseSwayBindingEvent(event, kTag)) {
                queue.push(key->vk, key->release);
            } else if (JsonStringField(event, "change") == "reload") {
                // A reloaded configuration drops the bindings made at run time: make them again.
                bound.clear();
                syncBindings();
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
    if (!impl->events.subscribe("[\"binding\", \"workspace\"]")) {
        if (error) *error = "sway refused to report binding events";
        return nullptr;
    }
    impl->typer = WaylandTyper::open(error);
    if (!impl->typer || !impl->watchdog.start(socket, error)) return nullptr;
    return std::unique_ptr<SwayKeyboard>(new SwayKeyboard(std::move(impl)));
}

SwayKeyboard::SwayKeyboard(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

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

bool SwayKeyboard::installed() const {
    return m_impl->isInstalled;
}

bool SwayKeyboard::install(Callbacks callbacks) {
    m_impl->callbacks = std::move(callbacks);
    m_impl->isInstalled = true;
    m_impl->syncBindings();
    return true;
}

void SwayKeyboard::remove() {
    if (!m_impl->isInstalled) return;
    m_impl->isInstalled = false;
    m_impl->syncBindings();
    m_impl->queue.clear();
}

void SwayKeyboard::setWatchedKeys(const std::vector<uint32_t>& vks) {
    std::vector<uint32_t> sorted = vks;
    std::sort(sorted.begin(), sorted.end());
    m_impl->watched = std::move(sorted);
    m_impl->syncBindings();
}

void SwayKeyboard::processPendingEvents() {
    Impl& d = *m_impl;
    d.collect();
    if (!d.typer->alive()) exitSessionGone();
    // As on X11: events are acted on one after another, never inside another's yields.
    if (d.isInstalled) d.queue.run(d.callbacks);
}

} // namespace kq
