#pragma once
// GNOME on Wayland through Keyquill's own GNOME Shell extension: the shell grabs the watched keys
// and reports their presses and releases over the session bus, and types for us with a virtual
// keyboard of its own. Works on every GNOME from 43 on, with no dialog; the extension serves the
// one connection that claimed it and lets every key go when that connection leaves the bus.
#include "platform/hotkeysource.h"
#include "platform/typer.h"

#include <memory>
#include <string>

typedef struct sd_bus sd_bus;

namespace kq {

class CompositorKeymap;

class ShellExtension : public HotkeySource {
public:
    static constexpr char kUuid[] = "keyquill@wrenfield.github.io";

    // nullptr when the extension does not answer; `advice` then says what the user can do about
    // it, when the extension is installed but not running (empty when it is not installed).
    static std::unique_ptr<ShellExtension> open(std::string* error, std::string* advice);
    ~ShellExtension() override;

    int fd() const override;
    void bind(const std::vector<Hotkey>& keys) override;
    std::vector<Hotkey> bound() const override { return m_bound; }
    bool read(std::vector<HotkeyEvent>* events) override;

    // Typing through the same extension and connection; `layout` tells which characters the
    // user's layouts have keys for.
    std::unique_ptr<Typer> typer(std::unique_ptr<CompositorKeymap> layout);

    struct Bus;

private:
    explicit ShellExtension(std::unique_ptr<Bus> bus);
    std::unique_ptr<Bus> m_bus;
    std::vector<Hotkey> m_bound;
};

} // namespace kq
