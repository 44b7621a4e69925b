#pragma once
// A thread that reads a connection ahead of the UI thread: it wakes when the connection's socket
// is readable and runs `onReadable`, but only while the UI thread waits in its event loop. The UI
// thread holds a gate from the start and lets go of it only between waiting(true) and
// waiting(false), so the two never run the backend's code (or the program's state) at once, and
// a press read while the UI thread sleeps is handled without waking it first.
//
// When `onReadable` hands work to the UI thread (returns true), the thread does not watch the
// socket again until the UI thread has waited anew: whatever the server sends meanwhile is the UI
// thread's to read, and a thread woken for it could not act on it anyway.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

namespace kq {

class ReadAhead {
public:
    // Called on the UI thread, which holds the gate from here on.
    ReadAhead(int fd, std::function<bool()> onReadable);
    // Lets the thread finish what it does and stops it.
    ~ReadAhead();
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // The UI thread is about to wait (true), or has stopped waiting (false): then this returns
    // once `onReadable` is not running.
    void waiting(bool now);

private:
    void run();

    int m_fd;
    int m_stopFd = -1;
    std::function<bool()> m_onReadable;
    std::mutex m_gate;
    bool m_uiWaiting = false; // touched by the UI thread only
    std::mutex m_waitsMutex;
    std::condition_variable m_waitsChanged;
    unsigned m_waits = 0; // the UI thread's waits begun so far
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
};

} // namespace kq
