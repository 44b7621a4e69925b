#pragma once
// A keyboard backend put together from a hotkey source (the compositor swallows the keys and
// reports them) and a typer. The filter's state is kept here: installed or not, the watched
// keys, and the queue that acts on reported events one after another.
#include "engine/dispatch.h"
#include "platform/hotkeyqueue.h"
#include "platform/hotkeysource.h"
#include "platform/keyboard.h"
#include "platform/typer.h"

#include <chrono>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace kq {

class ComposedKeyboard : public PlatformKeyboard {
public:
    // `desktop` names the session in the line printed when it goes ("the sway session").
    // `opacity`, when the desktop needs one, is kept alive by the caller (usually the source).
    ComposedKeyboard(std::unique_ptr<HotkeySource> source, std::unique_ptr<Typer> typer, std::string desktop,
                     WindowOpacity* opacity = nullptr);
    ~ComposedKeyboard() override;

    bool install(Callbacks callbacks) override;
    void remove() override;
    bool installed() const override { return m_installed; }
    void setWatchedKeys(const std::vector<Hotkey>& keys) override;

    bool CapsLockOn() override;
    void switchCapsLockOff() override;

    KeystrokeSink& typer() override { return m_noting; }
    int eventFd() const override { return m_source->fd(); }
    void processPendingEvents() override;
    int msUntilHousekeeping() const override { return -1; }
    std::string takeNotice() override { return m_source->takeNotice(); }
    WindowOpacity* windowOpacity() override { return m_opacity; }

private:
    // The typer, noting each hotkey's key that a line types: where the desktop reports typed keys
    // too, that key comes back as a press, an echo that is no press of the user's.
    struct NotingTyper : KeystrokeSink {
        explicit NotingTyper(Typer& t) : typer(t) {}
        bool send(const KeyStrokes& strokes) override;
        // True, once for each time the key was typed, when it was typed a moment ago.
        bool takeEcho(Hotkey key);

        Typer& typer;
        struct Echoes {
            int pending = 0;
            std::chrono::steady_clock::time_point last;
        };
        std::map<Hotkey, Echoes> echoes;
    };

    void bindNow();
    // The key a source's binding swallowed, typed after all.
    void typeKey(Hotkey key);

    // The source outlives the typer: a typer may talk through the source's connection.
    std::unique_ptr<HotkeySource> m_source;
    std::unique_ptr<Typer> m_typer;
    NotingTyper m_noting{*m_typer};
    std::string m_desktop;
    WindowOpacity* m_opacity;
    HotkeyQueue m_queue;
    Callbacks m_callbacks; // the program's
    Callbacks m_run;       // the program's, and a passed key typed where the source retypes it
    KeyEvent m_deciding;
    bool m_installed = false;
    std::vector<Hotkey> m_watched; // sorted
    std::vector<HotkeyEvent> m_arrived;
};

} // namespace kq
