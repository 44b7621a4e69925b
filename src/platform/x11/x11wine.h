#pragma once
// Windows programs under Wine, as a target of typing.
#include <X11/Xlib.h>

namespace kq {

// Quirk: a program under Wine hears of keymap changes only once the thread of its window has
// looked up a key of its own. Bindings made before that stay unknown to it, and their keys arrive
// as nothing for as long as the bindings last. This taps `emptyKeycode` (a keycode that holds
// nothing, so nothing is typed) into the focused window `topLevel`, and returns once the program
// has handled the tap, as its answer to a ping sent behind the tap shows; false when it did not
// answer within `timeoutMs`.
bool WakeWineKeymapReader(Display* dpy, Window topLevel, KeyCode emptyKeycode, int timeoutMs);

} // namespace kq
