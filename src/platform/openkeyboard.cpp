#include "platform/openkeyboard.h"

#include "platform/x11/x11keyboard.h"

namespace kq {

std::unique_ptr<PlatformKeyboard> OpenPlatformKeyboard(std::string_view uiPlatform, std::string* error) {
    if (uiPlatform == "xcb") return X11Keyboard::open(nullptr, error);
    if (error) *error = "they need an X11 session (the windows run on " + std::string(uiPlatform) + ")";
    return nullptr;
}

} // namespace kq
