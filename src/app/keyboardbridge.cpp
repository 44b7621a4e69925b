#include "app/keyboardbridge.h"

#include "engine/hook.h"
#include "platform/x11/x11keyboard.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

namespace kq {

KeyboardBridge::KeyboardBridge(X11Keyboard& keyboard, const MacroState& state, QObject* parent)
    : QObject(parent), m_keyboard(keyboard), m_state(state) {
    auto* notifier = new QSocketNotifier(keyboard.connectionFd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    // Quirk: a round trip on the connection (a sync, a property read) can queue events without
    // making the socket readable again; drain before every wait as well.
    connect(QThread::currentThread()->eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { drain(); });
}

void KeyboardBridge::drain() {
    m_keyboard.setWatchedKeys(KeysThatMaySwallow(m_state));
    m_keyboard.processPendingEvents();
}

} // namespace kq
