#include "platform/openkeyboard.h"

#include "platform/wlroots/swaykeyboard.h"
#include "platform/x11/x11keyboard.h"

#include <cstdlib>

namespace kq {
namespace {

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

PlatformChoice OpenPlatformKeyboard(std::string_view uiPlatform) {
    PlatformChoice choice;
    const bool wayland = envSet("WAYLAND_DISPLAY");
    std::string swayError;
    if (wayland && envSet("SWAYSOCK")) {
        choice.keyboard = SwayKeyboard::open(&swayError);
        if (choice.keyboard) return choice;
    }
    if (uiPlatform != "xcb" && !envSet("DISPLAY")) {
        choice.error = swayError.empty() ? "they need an X display or a sway session (the windows run on " +
                                               std::string(uiPlatform) + ")"
                                         : swayError;
        return choice;
    }
    choice.keyboard = X11Keyboard::open(nullptr, &choice.error);
    if (choice.keyboard && wayland)
        choice.notice = "In this Wayland session Keyquill's hotkeys work in X11 applications only: a "
                        "hotkey pressed in a native Wayland application does nothing, and lines are "
                        "typed only into X11 applications.";
    if (!swayError.empty()) choice.notice += (choice.notice.empty() ? "" : "\n\n") + ("Sway: " + swayError);
    return choice;
}

} // namespace kq
