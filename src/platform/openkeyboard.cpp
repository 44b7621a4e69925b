#include "platform/openkeyboard.h"

#include "platform/portal/portalkeyboard.h"
#include "platform/sway/swaykeyboard.h"
#include "platform/x11/x11keyboard.h"

#include <cstdlib>

namespace kq {
namespace {

constexpr char kPortalNotice[] =
    "On this desktop Keyquill's hotkeys are desktop shortcuts. The desktop may ask you to allow them "
    "the first time, and again when a mode switch needs keys it has not allowed yet; GNOME also asks "
    "once to let Keyquill type. On KDE Plasma Caps Lock still switches the lock. Characters your "
    "keyboard layout lacks are pasted through the clipboard (Ctrl+V), which is put back afterwards.";

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

} // namespace

PlatformChoice OpenPlatformKeyboard(std::string_view uiPlatform, const std::string& stateDir) {
    PlatformChoice choice;
    const bool wayland = envSet("WAYLAND_DISPLAY");
    std::string swayError, portalError;
    if (wayland && envSet("SWAYSOCK")) {
        choice.keyboard = SwayKeyboard::open(&swayError);
        if (choice.keyboard) return choice;
    } else if (wayland) {
        if (auto portal = PortalKeyboard::open(stateDir, &portalError)) {
            choice.keyboard = std::move(portal);
            choice.notice = kPortalNotice;
            return choice;
        }
    }
    if (uiPlatform != "xcb" && !envSet("DISPLAY")) {
        choice.error = !swayError.empty() ? swayError
                       : !portalError.empty()
                           ? portalError
                           : "they need an X display or a sway session (the windows run on " +
                                 std::string(uiPlatform) + ")";
        return choice;
    }
    choice.keyboard = X11Keyboard::open(nullptr, &choice.error);
    if (choice.keyboard && wayland)
        choice.notice = "In this Wayland session Keyquill's hotkeys work in X11 applications only: a "
                        "hotkey pressed in a native Wayland application does nothing, and lines are "
                        "typed only into X11 applications.";
    if (!portalError.empty()) choice.notice += "\n\nDesktop portal: " + portalError + ".";
    if (!swayError.empty()) choice.notice += (choice.notice.empty() ? "" : "\n\n") + ("Sway: " + swayError);
    return choice;
}

} // namespace kq
