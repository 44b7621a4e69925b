#include "platform/readahead.h"

#include <cerrno>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <sys/eventfd.h>
#include <unistd.h>

namespace kq {

ReadAhead::ReadAhead(int fd, std::function<bool()> onReadable)
    : m_fd(fd), m_stopFd(eventfd(0, EFD_CLOEXEC)), m_onReadable(std::move(onReadable)) {
    m_gate.lock();
    m_thread = std::thread([this] { run(); });
}

ReadAhead::~ReadAhead() {
    {
        std::lock_guard<std::mutex> lock(m_waitsMutex);
        m_stopping = true;
    }
    m_waitsChanged.notify_one();
    const uint64_t one = 1;
    (void)!::write(m_stopFd, &one, sizeof one);
    if (!m_uiWaiting) m_gate.unlock(); // the thread may be waiting for the gate to see the stop
    m_thread.join();
    ::close(m_stopFd);
}

void ReadAhead::waiting(bool now) {
    if (now == m_uiWaiting) return;
    m_uiWaiting = now;
    if (now) {
        {
            std::lock_guard<std::mutex> lock(m_waitsMutex);
            ++m_waits;
        }
        m_waitsChanged.notify_one();
        m_gate.unlock();
    } else {
        m_gate.lock();
    }
}

void ReadAhead::run() {
    // Quirk: the X server writes the events of one press (the grab's focus events, then the key)
    // one at a time. A thread woken by the first took the server's CPU from it (measured: the
    // server preempted twice per press, the key read 40-80 us later). A batch thread does not
    // preempt on waking: it runs once the server has sent them all, or on an idle CPU.
    sched_param batch{};
    pthread_setschedparam(pthread_self(), SCHED_BATCH, &batch);
    pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
    while (!m_stopping) {
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
        if (m_stopping) return;
        if (!(fds[0].revents & (POLLIN | POLLHUP | POLLERR))) continue;
        // Blocks while the UI thread runs: it reads the connection itself then, and whatever it
        // left is read here once it waits again.
        unsigned waitsBefore = 0;
        {
            std::lock_guard<std::mutex> lock(m_gate);
            if (m_stopping) return;
            {
                std::lock_guard<std::mutex> waits(m_waitsMutex);
                waitsBefore = m_waits;
            }
            if (!m_onReadable()) continue;
        }
        // Polled meanwhile, the socket would wake this thread for every event that follows our
        // keys (the key-ups of our own keys, the hotkey's own), each in the moment the server
        // wakes the receiving window, which on a machine with few CPUs must then wait for an idle
        // one; and the thread could only wait for the gate.
        std::unique_lock<std::mutex> waits(m_waitsMutex);
        m_waitsChanged.wait(waits, [&] { return m_stopping || m_waits != waitsBefore; });
    }
}

} // namespace kq
