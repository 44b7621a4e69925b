#pragma once
// The program while it runs. It owns what every window shares (the macro state and its playback,
// the slot store, the appearance, the window size limits), holds the platform's keyboard
// services, is the host of the hotkey actions, and is the one place that starts the program up,
// switches mode and shuts it down. The windows are views of it.
#include "app/formrestrict.h"
#include "engine/typeahead.h"
#include "engine/dispatch.h"
#include "engine/playback.h"
#include "files/slotstore.h"
#include "platform/keyboard.h"

#include <cstdint>
#include <memory>

class QWidget;

namespace kq {

class InstanceLock;
class KeyboardBridge;

// The saved look of the windows.
struct Appearance {
    int32_t BackgroundColour = 0;
    int32_t TextColour = 0;
    int16_t TransparencyOn = 0;
    int16_t TransparencyLevel = 0;
};

// What the session asks of the windows as a whole.
class SessionWindows {
public:
    virtual ~SessionWindows() = default;
    virtual QWidget* singleListWindow() = 0;
    virtual QWidget* multiSlotWindow() = 0;
    virtual void showMultiSlot() = 0;
    // After a switch back to the single list, its "Enabled" is unticked.
    virtual void untickEnabled() = 0;
    // Each unload does nothing for a window already unloaded or being unloaded.
    virtual void unloadOptions() = 0; // writes the settings file
    virtual void unloadMultiSlot() = 0;
    virtual void unloadMain() = 0;
    virtual void removeTrayIcon() = 0;
};

// The keyboard services the session uses; any may be absent (no display server), and then the
// hotkeys do nothing and every line fails as text that cannot be typed.
struct SessionPlatform {
    KeyFilter* filter = nullptr;
    CapsLockControl* capsLock = nullptr;
    KeystrokeSink* sender = nullptr;
};

class Session : public HotkeyHost {
public:
    explicit Session(SessionPlatform platform = {});
    ~Session() override;

    MacroState macro;
    SlotStore slotStore;
    int16_t CurrentConfig = 1;
    bool ShuttingDown = false;
    FormRestrict restrict;
    Appearance appearance;

    // The bridge that runs the keyboard on the event loop (it watches this session's state).
    void useBridge(KeyboardBridge* bridge) { m_bridge = bridge; }
    // Once the windows exist: what playback reads and where the session's questions go.
    void attach(SingleListView& list, SlotRowsView& rows, UserInterface& ui, SessionWindows& windows);
    // The start-up. False when the user chose not to run a second copy: then nothing has been
    // installed and the program should end.
    bool start(InstanceLock& lock);
    Playback& playback() { return *m_playback; }

    // Single list <-> multi-slot: "Enabled" goes off, the other window shows with its size limits.
    void switchMode(int16_t mode);
    // Every way out of the program ends here. Safe to enter again while it runs: the unloads it
    // causes deliver close notifications that call it once more.
    void shutdown();

    // HotkeyHost
    void NextCommand() override;
    void NextCommand2(int16_t functionkey) override;
    void SelectListIndex(int16_t index) override;
    void YieldEvents() override;

private:
    // What each hotkey press would type now, for a backend that starts lines on its own thread.
    void prepareTypeAhead();

    SessionPlatform m_platform;
    KeyboardBridge* m_bridge = nullptr;
    std::unique_ptr<KeystrokeSink> m_refusing;
    std::unique_ptr<TypeAhead> m_ahead; // playback's sink: the platform's, or the refusing one
    std::unique_ptr<Playback> m_playback;
    SingleListView* m_list = nullptr;
    UserInterface* m_ui = nullptr;
    SessionWindows* m_windows = nullptr;
    int m_shutdownDepth = 0;
};

} // namespace kq
