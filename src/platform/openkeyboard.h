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

// `uiPlatform` is the windowing platform the UI runs on ("xcb", "wayland"...). Reads the session
// from the environment: a sway session gets the sway backend, any session with an X display
// (XWayland included) the X11 one.
PlatformChoice OpenPlatformKeyboard(std::string_view uiPlatform);

} // namespace kq
