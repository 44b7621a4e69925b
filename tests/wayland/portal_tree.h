#pragma once
// What the desktop portal holds for Keyquill now, read from its object tree: the shortcut
// sessions Keyquill opened, and whether one of its requests is still waiting for an answer (the
// portal drops a request's object once it has answered it, after the desktop bound the keys).
#include "desktop.h"

#include <functional>
#include <regex>
#include <string>
#include <vector>

namespace kq::e2e {

struct PortalHold {
    int sessions = 0;
    bool answering = false;
    bool bound() const { return sessions == 1 && !answering; }
    bool none() const { return sessions == 0 && !answering; }
};

// `env`: the environment of a client of that desktop's session bus.
inline PortalHold KeyquillPortalHold(const std::vector<std::string>& env) {
    const std::string tree =
        runCaptureWith(env, "busctl --user tree --list org.freedesktop.portal.Desktop 2>/dev/null");
    PortalHold hold;
    for (size_t at = tree.find("/keyquill\n"); at != std::string::npos; at = tree.find("/keyquill\n", at + 1))
        ++hold.sessions;
    static const std::regex request("/request/[^/\n]+/keyquill[0-9]+\n");
    hold.answering = std::regex_search(tree, request);
    return hold;
}

// Until the portal holds one session of Keyquill's with no request waiting (or nothing at all),
// seen twice in a row: between a session's creation and the request that binds its keys there
// is a moment with neither waiting.
inline bool WaitPortal(const std::function<PortalHold()>& read, bool bound) {
    const auto held = [&] {
        const PortalHold h = read();
        return bound ? h.bound() : h.none();
    };
    return WaitUntil([&] { return held() && held(); });
}

} // namespace kq::e2e
