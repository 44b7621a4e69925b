#include "platform/hotkeyqueue.h"

#include <algorithm>
#include <iterator>

namespace kq {

void HotkeyQueue::run(const KeyFilter::Callbacks& callbacks) {
    m_events.run([&](const Event& e) {
        if (!e.release) {
            // The compositor has swallowed the press already; the dispatch swallows every key bound.
            m_down.insert(e.key);
            callbacks.act(callbacks.decide({e.key, false}));
        } else if (m_down.erase(e.key)) {
            callbacks.act(callbacks.decide({e.key, true}));
        }
    });
}

void HotkeyQueue::keepOnly(const std::vector<Hotkey>& boundSorted) {
    for (auto it = m_down.begin(); it != m_down.end();)
        it = std::binary_search(boundSorted.begin(), boundSorted.end(), *it) ? std::next(it)
                                                                             : m_down.erase(it);
}

} // namespace kq
