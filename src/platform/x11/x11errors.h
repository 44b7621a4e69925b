#pragma once
// Xlib's default error handler ends the process; ours survives errors, and a trap lets a caller
// count the errors of requests that may fail by design (a window that may be gone).
#include <X11/Xlib.h>

namespace kq {

// Installed once per process. A connection that breaks (the X server gone) ends the process
// through ExitSessionGone.
void InstallSurvivableErrorHandler();

// While one lives, X errors are counted here instead of being reported. Sync before reading.
class XErrorTrap {
public:
    explicit XErrorTrap(Display* dpy);
    ~XErrorTrap();
    // Errors since the trap was set, after a round trip that flushes the requests in flight.
    int errors();

private:
    Display* m_dpy;
    int m_start;
};

} // namespace kq
