#include "platform/x11/x11errors.h"

#include "platform/sessiongone.h"

#include <cstdio>
#include <unistd.h>

namespace kq {
namespace {

int g_trapDepth = 0;
int g_trapped = 0;

// Quirk: a key another client has grabbed already (a second Keyquill, the window manager) answers
// our grab with BadAccess: that key is then simply not ours. Other errors are reported and survived.
int survivableXError(Display* dpy, XErrorEvent* e) {
    if (g_trapDepth > 0) return ++g_trapped, 0;
    if (e->error_code == BadAccess && e->request_code == 33 /* X_GrabKey */) return 0;
    char text[256] = {};
    XGetErrorText(dpy, e->error_code, text, sizeof text);
    std::fprintf(stderr, "keyquill: X error %s (request %d)\n", text, e->request_code);
    return 0;
}

int displayGone(Display*) {
    ExitSessionGone("the X server");
}

} // namespace

void InstallSurvivableErrorHandler() {
    XSetErrorHandler(survivableXError);
    XSetIOErrorHandler(displayGone);
}

XErrorTrap::XErrorTrap(Display* dpy) : m_dpy(dpy) {
    XSync(dpy, False);
    ++g_trapDepth;
    m_start = g_trapped;
}

XErrorTrap::~XErrorTrap() {
    XSync(m_dpy, False);
    --g_trapDepth;
}

int XErrorTrap::errors() {
    XSync(m_dpy, False);
    return g_trapped - m_start;
}

} // namespace kq
