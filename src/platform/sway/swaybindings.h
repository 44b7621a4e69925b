#pragma once
// The sway IPC conversation of the hotkeys, as text: the bindings that swallow the watched keys
// and report their presses and releases as binding events, and the parsing of those events.
#include "engine/hotkey.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

struct SwayHotkey {
    Hotkey key = Hotkey::Tab;
    bool release = false;
};

// The keycode sway reports for a key (XKB's: evdev + 8). Fixed: sway numbers keys by their evdev
// codes, whatever the layout.
uint32_t SwayKeycodeFor(Hotkey key);

// One command string that binds (or unbinds) the press and the release of every key in `keys`
// under the modifier sets the X11 grabs use. Each binding runs `nop <tag> press|release <id>`.
std::string SwayBindingCommands(const std::vector<Hotkey>& keys, std::string_view tag, bool bind);

// The hotkey a binding event reports, when it is one of ours.
std::optional<SwayHotkey> ParseSwayBindingEvent(std::string_view json, std::string_view tag);

// The string value of the first `"key": "..."` in a JSON text, unescaped.
std::optional<std::string> JsonStringField(std::string_view json, std::string_view key);

// The command that sets the opacity (0..1) of the windows of process `pid` titled exactly `title`.
std::string SwayOpacityCommand(int pid, const std::string& title, double opacity);

// True when a command reply reports success for every command it ran (and ran at least one).
bool SwayCommandSucceeded(std::string_view reply);

} // namespace kq
