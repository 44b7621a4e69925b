#include "desktop.h"

#include "engine/escape.h"
#include "engine/playback.h"
#include "platform/x11/x11keyboard.h"

#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>

#include <chrono>
#include <sstream>
#include <thread>

namespace kq::e2e {

Desktop::Desktop() : m_dpy(XOpenDisplay(nullptr)), m_typing(X11Keyboard::open(nullptr)) {}

Desktop::~Desktop() {
    m_typing.reset();
    if (m_dpy) XCloseDisplay(m_dpy);
}

void Desktop::settle(int ms) {
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

// Windows titled `title` among `parent`'s children and, under a window manager, inside the
// frames it made for them (unnamed windows, searched `depth` levels down). Stacking order: the
// newest mapped one is last.
void collect(Display* dpy, Window parent, const std::string& title, bool mappedOnly, int depth,
             std::vector<Window>* found) {
    Window root = 0, up = 0, *children = nullptr;
    unsigned n = 0;
    if (!XQueryTree(dpy, parent, &root, &up, &children, &n)) return;
    for (unsigned i = 0; i < n; ++i) {
        char* name = nullptr;
        XWindowAttributes attr{};
        const bool named = XFetchName(dpy, children[i], &name) && name;
        if (named && title == name &&
            (!mappedOnly || (XGetWindowAttributes(dpy, children[i], &attr) && attr.map_state == IsViewable)))
            found->push_back(children[i]);
        else if (!named && depth > 0)
            collect(dpy, children[i], title, mappedOnly, depth - 1, found);
        if (name) XFree(name);
    }
    if (children) XFree(children);
}

} // namespace

std::vector<Window> Desktop::windows(const std::string& title, bool mappedOnly) const {
    std::vector<Window> found;
    collect(m_dpy, DefaultRootWindow(m_dpy), title, mappedOnly, 2, &found);
    return found;
}

Window Desktop::findWindow(const std::string& title, int timeoutMs, bool mappedOnly) const {
    std::vector<Window> found;
    WaitUntil([&] { return !(found = windows(title, mappedOnly)).empty(); }, timeoutMs);
    return found.empty() ? 0 : found.back();
}

Rect Desktop::geometry(Window w) const {
    XWindowAttributes attr{};
    XGetWindowAttributes(m_dpy, w, &attr);
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(m_dpy, w, DefaultRootWindow(m_dpy), 0, 0, &x, &y, &child);
    return {x, y, attr.width, attr.height};
}

void Desktop::focus(Window w) const {
    XRaiseWindow(m_dpy, w);
    XSetInputFocus(m_dpy, w, RevertToParent, CurrentTime);
    XSync(m_dpy, False);
    settle(150);
}

void Desktop::closeWindow(Window w) const {
    XEvent ev{};
    ev.xclient.type = ClientMessage;
    ev.xclient.window = w;
    ev.xclient.message_type = XInternAtom(m_dpy, "WM_PROTOCOLS", False);
    ev.xclient.format = 32;
    ev.xclient.data.l[0] = static_cast<long>(XInternAtom(m_dpy, "WM_DELETE_WINDOW", False));
    ev.xclient.data.l[1] = CurrentTime;
    XSendEvent(m_dpy, w, False, NoEventMask, &ev);
    XSync(m_dpy, False);
}

void Desktop::click(int x, int y, unsigned button) const {
    XTestFakeMotionEvent(m_dpy, -1, x, y, CurrentTime);
    XTestFakeButtonEvent(m_dpy, button, True, CurrentTime);
    XTestFakeButtonEvent(m_dpy, button, False, CurrentTime);
    XSync(m_dpy, False);
    settle(button == 1 ? 150 : 300);
}

void Desktop::key(const std::string& combo) const {
    std::vector<KeyCode> codes;
    std::stringstream ss(combo);
    std::string part;
    while (std::getline(ss, part, '+')) {
        if (part == "alt") part = "Alt_L";
        codes.push_back(XKeysymToKeycode(m_dpy, XStringToKeysym(part.c_str())));
    }
    for (KeyCode c : codes)
        XTestFakeKeyEvent(m_dpy, c, True, CurrentTime);
    for (auto it = codes.rbegin(); it != codes.rend(); ++it)
        XTestFakeKeyEvent(m_dpy, *it, False, CurrentTime);
    XSync(m_dpy, False);
    settle(60);
}

void Desktop::keys(const std::vector<std::string>& combos) const {
    for (const auto& c : combos)
        key(c);
}

bool Desktop::type(const std::string& text) const {
    if (!m_typing) return false;
    try {
        SendKeys(m_typing->typer(), EscapeParentheses(text));
    } catch (const PlaybackError&) {
        return false;
    }
    settle(100);
    return true;
}

int Desktop::opacity(Window w) const {
    // "_NET_WM_WINDOW_OPACITY(CARDINAL) = 3221225472", or "...:  not found."
    const std::string out = runCapture("xprop -id " + std::to_string(w) + " _NET_WM_WINDOW_OPACITY");
    const size_t at = out.find(" = ");
    if (at == std::string::npos) return -1;
    return static_cast<int>(std::stoul(out.substr(at + 3)) * 255.0 / 0xFFFFFFFFul + 0.5);
}

unsigned long Desktop::pixel(Window w, int x, int y) const {
    XImage* image = XGetImage(m_dpy, w, x, y, 1, 1, AllPlanes, ZPixmap);
    if (!image) return 0xFFFFFFFFul;
    const unsigned long p = XGetPixel(image, 0, 0) & 0xFFFFFF;
    XDestroyImage(image);
    return p;
}

} // namespace kq::e2e
