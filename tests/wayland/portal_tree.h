#pragma once
// What the desktop portal holds for Keyquill now, read from its object tree: the shortcut
// sessions Keyquill opened, and whether one of its requests is still waiting for an answer (the
// portal drops a request's object once it has answered it, after the desktop bound the keys).
#include "desktop.h"

#include <regex>
#include <string>

namespace kq::e2e {

struct PortalHold {
    int sessions = 0;
    bool answering = false;
    bool bound() const { return sessions == 1 && !answering; }
    bool none() const { return sessions == 0 && !answering; }
};

// `env`: the quoted environment of a client of that desktop's session bus.
inline PortalHold KeyquillPortalHold(const std::string& env) {
    const std::string tree =
        runCapture("env " + env + " busctl --user tree --list org.freedesktop.portal.Desktop 2>/dev/null");
    PortalHold hold;
    for (size_t at = tree.find("/keyquill\n"); at != std::string::npos; at = tree.find("/keyquill\n", at + 1))
        ++hold.sessions;
    static const std::regex request("/request/[^/\n]+/keyquill[0-9]+\n");
    hold.answering = std::regex_search(tree, request);
    return hold;
}

} // namespace kq::e2e
