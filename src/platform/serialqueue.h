#pragma once
// Work done one item after another, never inside another item's work. An item's action may yield
// to the event loop (a line typed, a list selected); a call that arrives there finds the outer one
// running and leaves the queue to it, so a hotkey taken during a line waits for the line. Every
// backend's hotkeys go through one of these.
#include <deque>
#include <utility>

namespace kq {

template <class T> class SerialQueue {
public:
    void push(T item) { m_items.push_back(std::move(item)); }
    void clear() { m_items.clear(); }
    bool empty() const { return m_items.empty(); }
    const T& front() const { return m_items.front(); }
    // An item's work is running further up the stack.
    bool busy() const { return m_running > 0; }

    // Runs `each` on the queued items in order, unless an item's work is already running further
    // up the stack. `before` runs ahead of each item and may queue more.
    template <class Each, class Before> void run(Each&& each, Before&& before) {
        for (;;) {
            before();
            if (m_items.empty() || m_running > 0) return;
            T item = std::move(m_items.front());
            m_items.pop_front();
            ++m_running;
            each(item);
            --m_running;
        }
    }
    template <class Each> void run(Each&& each) {
        run(std::forward<Each>(each), [] {});
    }

private:
    std::deque<T> m_items;
    int m_running = 0;
};

} // namespace kq
