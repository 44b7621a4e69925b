#pragma once
// Hotkeys on sway: bindings made through its IPC socket (sway swallows the key and reports its
// press and release as binding events), taken away by a watchdog if Keyquill is killed. The same
// connection sets window translucency through sway's `opacity` command, and tells when sway
// replaced the keymap of every keyboard (a configuration reload, an input command).
#include "platform/hotkeysource.h"
#include "platform/windowopacity.h"

#include <memory>
#include <string>

namespace kq {

class SwayHotkeys : public HotkeySource, public WindowOpacity {
public:
    // nullptr, with the reason, when this is no sway session.
    static std::unique_ptr<SwayHotkeys> open(std::string* error);
    ~SwayHotkeys() override;

    int fd() const override;
    void bind(const std::vector<Hotkey>& keys) override;
    std::vector<Hotkey> bound() const override;
    bool read(std::vector<HotkeyEvent>* events) override;

    // Quirk: Qt cannot set a window's opacity on Wayland (nor does sway read it from X11
    // windows); sway's own `opacity` command can.
    void setOpacity(const std::string& title, double opacity) override;

    // True when sway replaced the keyboards' keymaps since the last call. Reads what arrived
    // meanwhile; its hotkeys wait for the next read().
    bool keymapReplaced();

    struct Impl;

private:
    explicit SwayHotkeys(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
