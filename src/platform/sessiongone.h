#pragma once
// The one way the program ends when its desktop session goes (the X server, the compositor, the
// session bus): one line on standard error and status 1, safe from any callback. Every file was
// saved whole or not at all, so nothing is damaged.
#include <string_view>

namespace kq {

// Writes "keyquill: <what> went away; exiting" and ends the process.
[[noreturn]] void ExitSessionGone(std::string_view what);

} // namespace kq
