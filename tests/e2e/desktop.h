#pragma once
// Drives real X clients the way a person would: finds windows by title, clicks, presses keys and
// types text through XTest on a connection of its own.
#include <X11/Xlib.h>

#include <memory>
#include <string>
#include <vector>

namespace kq {
class X11Keyboard;
}

namespace kq::e2e {

struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

class Desktop {
public:
    Desktop();
    ~Desktop();
    bool ok() const { return m_dpy != nullptr; }
    Display* display() const { return m_dpy; }

    // The newest mapped top-level window with this exact title, or 0 after the timeout.
    Window findWindow(const std::string& title, int timeoutMs = 10000, bool mappedOnly = true) const;
    // _NET_WM_WINDOW_OPACITY scaled to 0..255, or -1 when the window has none.
    int opacity(Window w) const;
    // The colour of one pixel of a window, as 0xRRGGBB.
    unsigned long pixel(Window w, int x, int y) const;
    Rect geometry(Window w) const;
    void focus(Window w) const;
    void click(int x, int y, unsigned button = 1) const;
    // "alt+f", "Down", "Return", "F3", "Tab": keysym names joined by '+'.
    void key(const std::string& combo) const;
    void keys(const std::vector<std::string>& combos) const;
    // Types text exactly (it may hold any character), into the focused window.
    bool type(const std::string& text) const;
    static void settle(int ms);

private:
    Display* m_dpy = nullptr;
    std::unique_ptr<X11Keyboard> m_typing;
};

} // namespace kq::e2e
