#include "platform/sway/swayhotkeys.h"

#include "platform/sessiongone.h"
#include "platform/sway/swaybindings.h"
#include "platform/sway/swayipc.h"
#include "platform/sway/swaywatchdog.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <unistd.h>
#include <utility>

namespace kq {
namespace {

constexpr char kTag[] = "keyquill";
constexpr char kSession[] = "the sway session";

std::vector<Hotkey> minus(const std::vector<Hotkey>& a, const std::vector<Hotkey>& b) {
    std::vector<Hotkey> out;
    std::set_difference(a.begin(), a.end(), b.begin(), b.end(), std::back_inserter(out));
    return out;
}

} // namespace

struct SwayHotkeys::Impl {
    SwayIpc commands;
    SwayIpc events;
    SwayWatchdog watchdog;
    std::vector<Hotkey> wanted;
    std::vector<Hotkey> bound; // sorted: what sway has bound for us now
    std::vector<HotkeyEvent> pending;
    bool closed = false;
    // Quirk: sway applies its input configuration to every keyboard, our virtual one included,
    // whenever it reloads its configuration or runs an input command.
    bool keymapStale = false;

    void run(const std::string& cmds) {
        std::string reply;
        if (cmds.empty()) return;
        if (!commands.command(cmds, &reply)) ExitSessionGone(kSession);
        if (!SwayCommandSucceeded(reply))
            std::fprintf(stderr, "keyquill: sway refused some key bindings: %.200s\n", reply.c_str());
    }

    void sync() {
        if (wanted == bound) return;
        run(SwayBindingCommands(minus(bound, wanted), kTag, false));
        run(SwayBindingCommands(minus(wanted, bound), kTag, true));
        bound = wanted;
        const std::string undo = SwayBindingCommands(bound, kTag, false);
        watchdog.arm(undo.empty() ? std::string() : SwayIpc::frame(SwayIpc::kRunCommand, undo));
    }

    void collect() {
        bool rebind = false;
        for (const std::string& event : events.readEvents(&closed)) {
            if (const auto key = ParseSwayBindingEvent(event, kTag)) {
                pending.push_back({key->key, key->release});
                continue;
            }
            const auto change = JsonStringField(event, "change");
            if (change == "reload") { // which drops the bindings made at run time
                bound.clear();
                rebind = keymapStale = true;
            } else if (change == "xkb_keymap" || change == "xkb_layout") {
                keymapStale = true;
            }
        }
        if (rebind && !closed) sync();
    }
};

std::unique_ptr<SwayHotkeys> SwayHotkeys::open(std::string* error) {
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
    if (!impl->watchdog.start(socket, error)) return nullptr;
    return std::unique_ptr<SwayHotkeys>(new SwayHotkeys(std::move(impl)));
}

SwayHotkeys::SwayHotkeys(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SwayHotkeys::~SwayHotkeys() {
    m_impl->wanted.clear();
    if (!m_impl->closed) m_impl->sync();
}

int SwayHotkeys::fd() const {
    return m_impl->events.fd();
}

void SwayHotkeys::bind(const std::vector<Hotkey>& keys) {
    m_impl->wanted = keys;
    m_impl->sync();
}

std::vector<Hotkey> SwayHotkeys::bound() const {
    return m_impl->bound;
}

bool SwayHotkeys::read(std::vector<HotkeyEvent>* events) {
    m_impl->collect();
    events->insert(events->end(), m_impl->pending.begin(), m_impl->pending.end());
    m_impl->pending.clear();
    return !m_impl->closed;
}

void SwayHotkeys::setOpacity(const std::string& title, double opacity) {
    std::string reply; // a window not mapped yet matches nothing: that is no error here
    if (!m_impl->commands.command(SwayOpacityCommand(::getpid(), title, opacity), &reply))
        ExitSessionGone(kSession);
}

bool SwayHotkeys::keymapReplaced() {
    m_impl->collect();
    return std::exchange(m_impl->keymapStale, false);
}

} // namespace kq
