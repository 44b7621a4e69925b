#pragma once
// The conversation with the desktop's GlobalShortcuts portal (D-Bus): a session binds the keys
// Keyquill may swallow now; the compositor consumes them and reports each press (Activated) and
// release (Deactivated). A new key set closes the session and opens another, so keys outside the
// set reach the applications again.
#include "platform/hotkeysource.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

typedef struct sd_bus sd_bus;

namespace kq {

class PortalShortcuts : public HotkeySource {
public:
    // The application id the portal knows us by: the name of our desktop file.
    static constexpr char kAppId[] = "io.github.wrenfield.Keyquill";

    // nullptr, with the reason, when there is no session bus or its portal has no global
    // shortcuts. `appId` names the desktop file the portal shows the user (registered with the
    // portal where it asks for one: programs outside a sandbox have no other way to say it).
    static std::unique_ptr<PortalShortcuts> open(const std::string& appId, std::string* error);
    ~PortalShortcuts() override;

    int fd() const override;
    // The session bus connection, for other portals' conversations on the same descriptor.
    sd_bus* bus() const;
    // The keys the desktop should bind now (sorted). Asked of the desktop without waiting: its
    // answer (or the user's, in a dialog) comes through read().
    void bind(const std::vector<Hotkey>& keys) override;
    // What the desktop has bound for us, as far as it has answered.
    std::vector<Hotkey> bound() const override;
    // Handles what arrived on the bus and appends the key presses and releases, in order.
    // False once the bus connection has gone.
    bool read(std::vector<HotkeyEvent>* keys) override;
    // A sentence for the user when the desktop refused the shortcuts, once per refusal.
    std::string takeNotice() override;
    // Quirk: KWin and mutter fire a shortcut for the keys of fake input and virtual keyboards too.
    bool reportsTypedKeys() const override { return true; }

    struct Impl;

private:
    explicit PortalShortcuts(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};

} // namespace kq
