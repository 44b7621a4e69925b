#include "platform/x11/x11wine.h"

#include <X11/extensions/XTest.h>

#include <chrono>
#include <memory>
#include <poll.h>

namespace kq {

namespace {

using DisplayPtr = std::unique_ptr<Display, decltype(&XCloseDisplay)>;

// Whether the answer to our ping (a client sends it to the root window) is among the events read.
bool Answered(Display* watch, Window topLevel, Atom ping, long stamp) {
    while (XPending(watch)) {
        XEvent ev;
        XNextEvent(watch, &ev);
        const XClientMessageEvent& m = ev.xclient;
        if (ev.type == ClientMessage && static_cast<Atom>(m.data.l[0]) == ping && m.data.l[1] == stamp &&
            static_cast<Window>(m.data.l[2]) == topLevel)
            return true;
    }
    return false;
}

} // namespace

bool WakeWineKeymapReader(Display* dpy, Window topLevel, KeyCode emptyKeycode, int timeoutMs) {
    // The answer goes to the root window, whose window events our own connection does not want:
    // a connection of its own listens for it, selected before the ping can be answered.
    DisplayPtr watch(XOpenDisplay(DisplayString(dpy)), &XCloseDisplay);
    if (!watch) return false;
    const Window root = DefaultRootWindow(watch.get());
    XSelectInput(watch.get(), root, SubstructureNotifyMask);
    XSync(watch.get(), False);

    // The window handles its events in order: when it answers the ping, the tap before it has been
    // looked up, and its request to hear of keymap changes has reached the server before the answer.
    XTestFakeKeyEvent(dpy, emptyKeycode, True, CurrentTime);
    XTestFakeKeyEvent(dpy, emptyKeycode, False, CurrentTime);
    static long stamp = 0;
    XEvent ping{};
    ping.xclient.type = ClientMessage;
    ping.xclient.window = topLevel;
    ping.xclient.message_type = XInternAtom(dpy, "WM_PROTOCOLS", False);
    ping.xclient.format = 32;
    const Atom pingAtom = XInternAtom(dpy, "_NET_WM_PING", False);
    ping.xclient.data.l[0] = static_cast<long>(pingAtom);
    ping.xclient.data.l[1] = ++stamp;
    ping.xclient.data.l[2] = static_cast<long>(topLevel);
    XSendEvent(dpy, topLevel, False, NoEventMask, &ping);
    XFlush(dpy);

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    pollfd fd{ConnectionNumber(watch.get()), POLLIN, 0};
    while (!Answered(watch.get(), topLevel, pingAtom, stamp)) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                                std::chrono::steady_clock::now());
        if (left.count() <= 0 || poll(&fd, 1, static_cast<int>(left.count())) <= 0) return false;
    }
    return true;
}

} // namespace kq
