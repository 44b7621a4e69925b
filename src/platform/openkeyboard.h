#pragma once
// The one place that picks a keyboard backend for the session the program runs in.
#include "platform/keyboard.h"

#include <memory>
#include <string>
#include <string_view>

namespace kq {

// `uiPlatform` is the windowing platform the UI runs on ("xcb", "wayland"...). nullptr, with the
// reason in *error, when this session has no backend.
std::unique_ptr<PlatformKeyboard> OpenPlatformKeyboard(std::string_view uiPlatform, std::string* error);

} // namespace kq
