#pragma once
// What the Wayland end-to-end tests share: list lines written as they stand, environments put
// together, and Keyquill's top-level windows on the Xvfb where its UI runs.
#include "desktop.h"

#include <string>
#include <vector>

namespace kq::e2e {

// The notation's own characters, written so that they are typed as they stand (the program
// escapes parentheses itself).
inline std::string literal(const std::string& text) {
    std::string out;
    for (char c : text)
        out += std::string("+^%~{}").find(c) != std::string::npos ? std::string("{") + c + "}"
                                                                  : std::string(1, c);
    return out;
}

inline std::vector<std::string> concat(std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// Keyquill's viewable top-level windows (the main window, and a notice or message box).
inline std::vector<Window> keyquillWindows(const Desktop& desk) {
    Window root = 0, parent = 0, *children = nullptr;
    unsigned n = 0;
    std::vector<Window> found;
    if (!XQueryTree(desk.display(), DefaultRootWindow(desk.display()), &root, &parent, &children, &n))
        return found;
    for (unsigned i = 0; i < n; ++i) {
        XWindowAttributes a{};
        char* name = nullptr;
        if (XGetWindowAttributes(desk.display(), children[i], &a) && a.map_state == IsViewable &&
            XFetchName(desk.display(), children[i], &name) && name && std::string(name) == "Keyquill")
            found.push_back(children[i]);
        if (name) XFree(name);
    }
    if (children) XFree(children);
    return found;
}

} // namespace kq::e2e
