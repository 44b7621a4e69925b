#pragma once
// The one place that picks a keyboard backend for the session the program runs in.
#include "platform/keyboard.h"

#include <memory>
#include <string>
#include <string_view>

namespace kq {

struct PlatformChoice {
    std::unique_ptr<PlatformKeyboard> keyboard; // nullptr when this session has none
    std::string error;                          // why there is none
    std::string notice;                         // what the user should be told once at start
};

// `uiPlatform` is the windowing platform the UI runs on ("xcb", "wayland"...); `stateDir` the
// folder of the settings, where a backend keeps what the desktop granted. Reads the session from
// the environment: a sway session gets the sway backend, another Wayland session the portal one
// where its desktop has what that needs, any session with an X display (XWayland included) the
// X11 one.
PlatformChoice OpenPlatformKeyboard(std::string_view uiPlatform, const std::string& stateDir);

} // namespace kq
