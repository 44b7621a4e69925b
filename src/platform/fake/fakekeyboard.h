#pragma once
// In-memory keyboard for tests: events are injected by hand, typed strokes are recorded.
#include "platform/keyboard.h"

#include <string>
#include <vector>

namespace kq {

class FakeKeyboard : public KeyFilter, public CapsLockControl, public KeystrokeSink {
public:
    bool install(Callbacks callbacks) override;
    void remove() override { m_installed = false; }
    bool installed() const override { return m_installed; }
    void setWatchedKeys(const std::vector<Hotkey>& keys) override { watched = keys; }

    bool CapsLockOn() override { return capsLocked && !capsHeld; }
    void switchCapsLockOff() override { capsLocked = false, ++capsSwitchOffs; }

    bool send(const KeyStrokes& strokes) override;

    // Feeds one event through decide-then-act, as the real filter does; returns the verdict.
    Verdict inject(const KeyEvent& event);
    // The typed text, with named keys written as <NAME> (Enter is "\n").
    std::string typedText() const;

    std::vector<Hotkey> watched;
    std::vector<KeyStrokes> sends; // one entry per send call
    bool refuseSends = false;
    bool capsLocked = false;
    bool capsHeld = false;
    int capsSwitchOffs = 0;

private:
    Callbacks m_callbacks;
    bool m_installed = false;
};

} // namespace kq
