#pragma once
// Window translucency where the compositor, not the toolkit, sets it (sway: its `opacity`
// command). No window-system header here.
#include <string>

namespace kq {

class WindowOpacity {
public:
    virtual ~WindowOpacity() = default;
    // Draws this program's mapped top-level windows titled exactly `title` at `opacity` (0..1).
    // A window mapped later needs the call again.
    virtual void setOpacity(const std::string& title, double opacity) = 0;
};

} // namespace kq
