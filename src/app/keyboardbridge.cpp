#include "app/keyboardbridge.h"

#include "engine/dispatch.h"
#include "platform/keyboard.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

namespace kq {

KeyboardBridge::KeyboardBridge(PlatformKeyboard& keyboard, const MacroState& state, QObject* parent)
    : QObject(parent), m_keyboard(keyboard), m_state(state) {
    auto* notifier = new QSocketNotifier(keyboard.eventFd(), QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    // Quirk: a round trip on an X connection (a sync, a property read) can queue events without
    // making the socket readable again; drain before every wait as well.
    connect(QThread::currentThread()->eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { drain(); });
    m_upkeep.setSingleShot(true);
    connect(&m_upkeep, &QTimer::timeout, this, [this] { drain(); });
}

void KeyboardBridge::drain() {
    m_keyboard.setWatchedKeys(KeysThatMaySwallow(m_state));
    m_keyboard.processPendingEvents();
    // Told from the event loop, not from here: a message box inside a drain would nest it.
    for (Hotkey key : m_keyboard.takeRefusedKeys())
        QTimer::singleShot(0, this, [this, key] {
            if (m_refused) m_refused(key);
        });
    if (std::string notice = m_keyboard.takeNotice(); !notice.empty())
        QTimer::singleShot(0, this, [this, notice] {
            if (m_notice) m_notice(notice);
        });
    int due = m_keyboard.msUntilHousekeeping();
    for (const auto& [upkeepDue, run] : m_upkeeps) {
        int in = upkeepDue();
        if (in == 0) run(), in = upkeepDue();
        if (in >= 0 && (due < 0 || in < due)) due = in;
    }
    if (due < 0)
        m_upkeep.stop();
    else if (!m_upkeep.isActive() || m_upkeep.remainingTime() > due)
        m_upkeep.start(due);
}

} // namespace kq
