#include "app/keyboardbridge.h"

#include "engine/dispatch.h"
#include "platform/keyboard.h"

#include <QAbstractEventDispatcher>
#include <QSocketNotifier>
#include <QThread>

#include <dlfcn.h>
#include <thread>

namespace kq {
namespace {

// GLib's main loop, found in the process (Qt's event loop runs on it) rather than linked: the
// few calls needed to wrap the poll the loop waits in. GPollFD is struct pollfd on Unix.
using PollFunc = int (*)(void* fds, unsigned count, int timeout);
struct MainLoopPoll {
    void* (*defaultContext)() = nullptr;
    PollFunc (*getPoll)(void* context) = nullptr;
    void (*setPoll)(void* context, PollFunc poll) = nullptr;
    bool found() const { return defaultContext && getPoll && setPoll; }
};

MainLoopPoll FindMainLoopPoll() {
    MainLoopPoll p;
    p.defaultContext = reinterpret_cast<void* (*)()>(dlsym(RTLD_DEFAULT, "g_main_context_default"));
    p.getPoll = reinterpret_cast<PollFunc (*)(void*)>(dlsym(RTLD_DEFAULT, "g_main_context_get_poll_func"));
    p.setPoll =
        reinterpret_cast<void (*)(void*, PollFunc)>(dlsym(RTLD_DEFAULT, "g_main_context_set_poll_func"));
    return p;
}

KeyboardBridge* g_waitingBridge = nullptr; // the bridge whose backend reads ahead
PollFunc g_loopPoll = nullptr;             // the poll the loop used before
std::thread::id g_uiThread;                // the default loop is the UI thread's, but GLib does not say so

} // namespace

KeyboardBridge::KeyboardBridge(PlatformKeyboard& keyboard, const MacroState& state, QObject* parent)
    : QObject(parent), m_keyboard(keyboard), m_state(state) {
    m_readingAhead = startReadingAhead();
    if (!m_readingAhead) {
        auto* notifier = new QSocketNotifier(keyboard.eventFd(), QSocketNotifier::Read, this);
        connect(notifier, &QSocketNotifier::activated, this, [this] { drain(); });
    }
    // Quirk: a round trip on an X connection (a sync, a property read) can queue events without
    // making the socket readable again; drain before every wait as well.
    connect(QThread::currentThread()->eventDispatcher(), &QAbstractEventDispatcher::aboutToBlock, this,
            [this] { drain(); });
    m_upkeep.setSingleShot(true);
    connect(&m_upkeep, &QTimer::timeout, this, [this] { drain(); });
}

KeyboardBridge::~KeyboardBridge() {
    if (!m_readingAhead) return;
    const MainLoopPoll loop = FindMainLoopPoll();
    loop.setPoll(loop.defaultContext(), g_loopPoll);
    g_waitingBridge = nullptr;
    m_keyboard.stopReadingAhead();
}

// Only with Qt's GLib event loop on this thread, whose poll can be wrapped; one bridge at a time.
bool KeyboardBridge::startReadingAhead() {
    QAbstractEventDispatcher* loop = QThread::currentThread()->eventDispatcher();
    const MainLoopPoll glib = FindMainLoopPoll();
    if (g_waitingBridge || !loop || !loop->inherits("QEventDispatcherGlib") || !glib.found()) return false;
    // Queued: the backend's thread may not call into Qt's objects itself.
    if (!m_keyboard.startReadingAhead([this] {
            QMetaObject::invokeMethod(
                this, [this] { drain(); }, Qt::QueuedConnection);
        }))
        return false;
    void* context = glib.defaultContext();
    g_loopPoll = glib.getPoll(context);
    g_waitingBridge = this;
    g_uiThread = std::this_thread::get_id();
    glib.setPoll(context, &KeyboardBridge::pollWaiting);
    return true;
}

// The loop's wait, with the backend's thread let in for it. Polls that do not wait (the yields'
// processEvents) keep it out: the program is in the middle of something then.
int KeyboardBridge::pollWaiting(void* fds, unsigned count, int timeout) {
    KeyboardBridge* bridge = g_waitingBridge;
    if (timeout == 0 || !bridge || std::this_thread::get_id() != g_uiThread)
        return g_loopPoll(fds, count, timeout);
    bridge->m_keyboard.waiting(true, std::exchange(bridge->m_prepared, false));
    const int ready = g_loopPoll(fds, count, timeout);
    bridge->m_keyboard.waiting(false, false);
    return ready;
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
    if (m_readingAhead && m_prepare) {
        m_prepare();
        m_prepared = true;
    }
}

} // namespace kq
