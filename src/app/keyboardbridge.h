#pragma once
// Runs the X11 keyboard on Qt's event loop: its connection is read when readable and drained
// before the loop blocks, and the grabbed keys follow the macro state.
#include <QObject>
#include <QTimer>

namespace kq {

class X11Keyboard;
struct MacroState;

class KeyboardBridge : public QObject {
public:
    KeyboardBridge(X11Keyboard& keyboard, const MacroState& state, QObject* parent = nullptr);
    // Processes what the connection has queued: used by the yields of playback too.
    void drain();

private:
    X11Keyboard& m_keyboard;
    const MacroState& m_state;
    QTimer m_upkeep; // wakes the loop when the keyboard has upkeep due without any event
};

} // namespace kq
