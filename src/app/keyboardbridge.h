#pragma once
// Runs the keyboard backend on Qt's event loop: its events are read when its fd is readable and
// drained before the loop blocks, and the watched keys follow the macro state. Where the backend
// reads ahead on a thread of its own, that thread watches the fd instead, and may act while the
// loop waits in its poll: the loop lets it in just for that wait.
#include "engine/hotkey.h"

#include <QObject>
#include <QTimer>

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace kq {

class PlatformKeyboard;
struct MacroState;

class KeyboardBridge : public QObject {
public:
    KeyboardBridge(PlatformKeyboard& keyboard, const MacroState& state, QObject* parent = nullptr);
    ~KeyboardBridge() override;
    // Processes what the connection has queued: used by the yields of playback too.
    void drain();
    // Called from the event loop (never inside a drain) with each hotkey another program holds.
    void setRefusedHandler(std::function<void(Hotkey)> handler) { m_refused = std::move(handler); }
    // Likewise with each sentence the backend has for the user.
    void setNoticeHandler(std::function<void(const std::string&)> handler) { m_notice = std::move(handler); }
    // Upkeep of another part of the typing, run like the keyboard's: `due` says in how many
    // milliseconds (-1: none), `run` is called once it is 0.
    void addUpkeep(std::function<int()> due, std::function<void()> run) {
        m_upkeeps.push_back({std::move(due), std::move(run)});
    }
    // Brings the data of the backend's typeAhead callback up to date; run at the end of each drain.
    void setPrepare(std::function<void()> prepare) { m_prepare = std::move(prepare); }

private:
    bool startReadingAhead();
    static int pollWaiting(void* fds, unsigned count, int timeout);

    PlatformKeyboard& m_keyboard;
    const MacroState& m_state;
    QTimer m_upkeep; // wakes the loop when the keyboard has upkeep due without any event
    std::function<void(Hotkey)> m_refused;
    std::function<void(const std::string&)> m_notice;
    std::vector<std::pair<std::function<int()>, std::function<void()>>> m_upkeeps;
    std::function<void()> m_prepare;
    bool m_readingAhead = false;
    bool m_prepared = false; // nothing ran on this thread since the last drain prepared
};

} // namespace kq
