// A small X client that records exactly what it receives: the text of every key press in one
// file, and every press and release as "P <keysym> <state> <server time>" / "R ..." lines in
// another.
// Usage: kq_e2e_target TEXT_FILE EVENTS_FILE [TITLE [grab-tab]]
//   grab-tab: hold TAB with a passive grab of its own, as another hotkey program would
#include <X11/XKBlib.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <xkbcommon/xkbcommon.h>

#include <cstdio>
#include <cstring>

static bool isModifierKeysym(KeySym s) {
    return IsModifierKey(s) || s == XK_ISO_Level3_Shift || s == XK_ISO_Level5_Shift || s == XK_Caps_Lock;
}

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    // Append mode: the tests empty the files between steps, and writes must land at the new end.
    int xkbEvent = 0, xkbError = 0, major = XkbMajorVersion, minor = XkbMinorVersion, reason = 0;
    Display* dpy = XkbOpenDisplay(nullptr, &xkbEvent, &xkbError, &major, &minor, &reason);
    if (!dpy) return 1;
    FILE* text = std::fopen(argv[1], "ab");
    FILE* events = std::fopen(argv[2], "ab");
    if (!text || !events) return 1;
    XkbSelectEvents(dpy, XkbUseCoreKbd, XkbMapNotifyMask, XkbMapNotifyMask);
    const Window w = XCreateSimpleWindow(dpy, DefaultRootWindow(dpy), 10, 10, 320, 120, 0, 0, 0xFFFFFF);
    XStoreName(dpy, w, argc > 3 ? argv[3] : "kq-target");
    XSelectInput(dpy, w, KeyPressMask | KeyReleaseMask | StructureNotifyMask | FocusChangeMask);
    if (argc > 4 && std::strcmp(argv[4], "grab-tab") == 0)
        XGrabKey(dpy, XKeysymToKeycode(dpy, XK_Tab), AnyModifier, DefaultRootWindow(dpy), True, GrabModeAsync,
                 GrabModeAsync);
    XMapWindow(dpy, w);
    XFlush(dpy);
    for (;;) {
        XEvent ev;
        XNextEvent(dpy, &ev);
        // Every keymap change a client has to take in is logged: typing characters that are
        // bound already must cause none.
        if (ev.type == MappingNotify) {
            XRefreshKeyboardMapping(&ev.xmapping);
            std::fputs("MAPPING core\n", events);
            std::fflush(events);
            continue;
        }
        if (ev.type == xkbEvent) {
            auto* xkbev = reinterpret_cast<XkbEvent*>(&ev);
            if (xkbev->any.xkb_type == XkbMapNotify) {
                XkbRefreshKeyboardMapping(&xkbev->map);
                std::fputs("MAPPING xkb\n", events);
                std::fflush(events);
            }
            continue;
        }
        if (ev.type == MapNotify) {
            std::fprintf(events, "MAPPED 0x%lx\n", w);
            std::fflush(events);
            continue;
        }
        if (ev.type != KeyPress && ev.type != KeyRelease) continue;
        KeySym sym = NoSymbol;
        unsigned consumed = 0;
        XkbLookupKeySym(dpy, static_cast<KeyCode>(ev.xkey.keycode), ev.xkey.state, &consumed, &sym);
        const char* name = XKeysymToString(sym);
        std::fprintf(events, "%c %s %u %lu\n", ev.type == KeyPress ? 'P' : 'R', name ? name : "?",
                     ev.xkey.state, ev.xkey.time);
        std::fflush(events);
        if (ev.type != KeyPress || isModifierKeysym(sym)) continue;
        if (sym == XK_Return) {
            std::fputc('\n', text);
        } else if (const uint32_t cp = xkb_keysym_to_utf32(static_cast<xkb_keysym_t>(sym));
                   cp >= 0x20 && sym != XK_Delete && !(ev.xkey.state & ControlMask)) {
            char buf[8];
            const int n = xkb_keysym_to_utf8(static_cast<xkb_keysym_t>(sym), buf, sizeof buf);
            if (n > 1) std::fwrite(buf, 1, static_cast<size_t>(n - 1), text);
        } else {
            std::fprintf(text, "<%s>", name ? name : "?");
        }
        std::fflush(text);
    }
}
