#pragma once
// Hotkeys from the command line, for desktops where only the compositor can take a key (labwc,
// wayfire, river, niri...): a binding in the compositor's configuration swallows the key and runs
// `keyquill --press tab` (and `--release tab` where it can bind releases), which hands the event
// to the running Keyquill over a socket of the user's own.
#include "platform/hotkeysource.h"

#include <memory>
#include <string>

namespace kq {

class TriggerHotkeys : public HotkeySource {
public:
    // $XDG_RUNTIME_DIR/keyquill-<uid>.trigger (in /tmp without a runtime folder).
    static std::string socketPath();
    // nullptr, with the reason, when the socket cannot be made (another Keyquill listens on it).
    static std::unique_ptr<TriggerHotkeys> open(std::string* error);
    ~TriggerHotkeys() override;

    int fd() const override { return m_listen; }
    void bind(const std::vector<Hotkey>& keys) override { m_watched = keys; }
    std::vector<Hotkey> bound() const override { return m_watched; }
    bool read(std::vector<HotkeyEvent>* events) override;
    // A key the compositor swallowed is typed after all while Keyquill does not take it.
    bool retypesPassedKeys() const override { return true; }

private:
    TriggerHotkeys(int listen, std::string path) : m_listen(listen), m_path(std::move(path)) {}
    int m_listen;
    std::string m_path;
    std::vector<Hotkey> m_watched;
};

// What `keyquill --press KEY` does: `verb` is "press", "release" or "tap". False, with a sentence
// for the user, when no Keyquill listens.
bool SendTrigger(const std::string& verb, const std::string& key, std::string* error);

} // namespace kq
