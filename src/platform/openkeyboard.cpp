#include "platform/openkeyboard.h"

#include "platform/composedkeyboard.h"
#include "platform/deferredtyper.h"
#include "platform/gnome/remotedesktoptyper.h"
#include "platform/gnome/shellextension.h"
#include "platform/kde/fakeinputtyper.h"
#include "platform/portal/portalshortcuts.h"
#include "platform/sway/swayhotkeys.h"
#include "platform/trigger/triggerhotkeys.h"
#include "platform/wayland/compositorkeymap.h"
#include "platform/wayland/virtualkeyboardtyper.h"
#include "platform/x11/x11keyboard.h"

#include <cstdlib>

namespace kq {
namespace {

constexpr char kPortalNotice[] =
    "On this desktop Keyquill's hotkeys are desktop shortcuts. The desktop may ask you to allow them "
    "the first time, and again when a mode switch needs keys it has not allowed yet; GNOME also asks "
    "once, when the first line is typed, to let Keyquill type. On KDE Plasma Caps Lock still switches "
    "the lock. Characters your keyboard layout lacks are pasted through the clipboard (Ctrl+V), which "
    "is put back afterwards.";

constexpr char kTriggerNotice[] =
    "On this desktop only the compositor can take a key. Add bindings to its configuration that run "
    "\"keyquill --press tab\" when TAB is pressed and \"keyquill --release tab\" when it is released "
    "(F1..F12 the same way, as f1..f12), or \"keyquill --tap tab\" where the compositor cannot bind "
    "releases. Keyquill's README has the lines for labwc, wayfire, river, niri and Hyprland.";

bool envSet(const char* name) {
    const char* v = std::getenv(name);
    return v && *v;
}

// Sway: its bindings bring the hotkeys, a virtual keyboard with a keymap of ours types, and the
// keymap goes up again whenever sway replaced it.
std::unique_ptr<PlatformKeyboard> openSway(std::string* error) {
    auto hotkeys = SwayHotkeys::open(error);
    auto typer = hotkeys ? VirtualKeyboardTyper::open(error) : nullptr;
    if (!typer) return nullptr;
    SwayHotkeys* source = hotkeys.get();
    typer->watchKeymap([source] { return source->keymapReplaced(); });
    return std::make_unique<ComposedKeyboard>(std::move(hotkeys), std::move(typer), "the sway session",
                                              source);
}

// GNOME with Keyquill's extension turned on: the shell takes the keys and types, with no dialog.
std::unique_ptr<PlatformKeyboard> openGnomeShell(std::string* error, std::string* advice) {
    auto shell = ShellExtension::open(error, advice);
    if (!shell) return nullptr;
    auto keymap = CompositorKeymap::connect();
    if (!keymap) return *error = "the compositor sends no keymap to type with", nullptr;
    auto typer = shell->typer(std::move(keymap));
    return std::make_unique<ComposedKeyboard>(std::move(shell), std::move(typer), "the GNOME session");
}

// GNOME, KDE Plasma and any desktop whose portal has global shortcuts: those bring the hotkeys;
// KWin's fake input types where KWin grants it, else the RemoteDesktop portal (GNOME), opened at
// the first line so that its dialog comes after Keyquill's window and notice.
std::unique_ptr<PlatformKeyboard> openPortal(const std::string& stateDir, std::string* error) {
    auto shortcuts = PortalShortcuts::open(PortalShortcuts::kAppId, error);
    if (!shortcuts) return nullptr;
    std::string fakeInputError, virtualError;
    std::unique_ptr<Typer> typer = FakeInputTyper::open(shortcuts->bus(), &fakeInputError);
    if (!typer) typer = VirtualKeyboardTyper::open(&virtualError); // Hyprland
    if (!typer) {
        if (!RemoteDesktopTyper::offered(shortcuts->bus()))
            return *error = fakeInputError + "; the desktop portal offers no remote desktop to type with",
                   nullptr;
        sd_bus* bus = shortcuts->bus();
        typer = std::make_unique<DeferredTyper>([bus, stateDir](std::string* why) -> std::unique_ptr<Typer> {
            auto keymap = CompositorKeymap::connect();
            if (!keymap) return *why = "the compositor sends no keymap to type with", nullptr;
            return RemoteDesktopTyper::open(bus, stateDir + "/remote-desktop-token", std::move(keymap), why);
        });
    }
    return std::make_unique<ComposedKeyboard>(std::move(shortcuts), std::move(typer), "the desktop session");
}

// Any other compositor with the virtual keyboard: its own bindings run the command-line trigger.
std::unique_ptr<PlatformKeyboard> openTrigger(std::string* error) {
    auto typer = VirtualKeyboardTyper::open(error);
    auto trigger = typer ? TriggerHotkeys::open(error) : nullptr;
    if (!trigger) return nullptr;
    return std::make_unique<ComposedKeyboard>(std::move(trigger), std::move(typer), "the Wayland session");
}

} // namespace

PlatformChoice OpenPlatformKeyboard(std::string_view uiPlatform, const std::string& stateDir) {
    PlatformChoice choice;
    const bool wayland = envSet("WAYLAND_DISPLAY");
    std::string swayError, shellError, extensionAdvice, portalError, triggerError;
    if (wayland && envSet("SWAYSOCK")) {
        choice.keyboard = openSway(&swayError);
        if (choice.keyboard) return choice;
    } else if (wayland) {
        if ((choice.keyboard = openGnomeShell(&shellError, &extensionAdvice))) return choice;
        if (auto portal = openPortal(stateDir, &portalError)) {
            choice.keyboard = std::move(portal);
            choice.notice = kPortalNotice;
            if (!extensionAdvice.empty()) choice.notice += "\n\n" + extensionAdvice;
            return choice;
        }
        if (auto trigger = openTrigger(&triggerError)) {
            choice.keyboard = std::move(trigger);
            choice.notice = kTriggerNotice;
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
    if (!extensionAdvice.empty()) choice.notice += "\n\n" + extensionAdvice;
    if (!portalError.empty()) choice.notice += "\n\nDesktop portal: " + portalError + ".";
    // On GNOME the extension is the way; the trigger's reason would only distract.
    if (!triggerError.empty() && extensionAdvice.empty())
        choice.notice += "\n\nCommand-line hotkeys: " + triggerError + ".";
    if (!swayError.empty()) choice.notice += (choice.notice.empty() ? "" : "\n\n") + ("Sway: " + swayError);
    return choice;
}

} // namespace kq
