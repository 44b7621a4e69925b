#include "platform/hotkeyqueue.h"

#include <algorithm>
#include <iterator>

namespace kq {

void HotkeyQueue::run(const KeyFilter::Callbacks& callbacks) {
    while (!m_stash.empty() && m_acting == 0) {
        const Event e = m_stash.front();
        m_stash.pop_front();
        HotkeyDecision d;
        if (!e.release) {
            d = callbacks.decide({e.key, false});
            // The compositor has swallowed the press already; the dispatch swallows every key bound.
            m_down.insert(e.key);
        } else if (m_down.erase(e.key)) {
            d = callbacks.decide({e.key, true});
        } else {
            continue;
        }
        ++m_acting;
        callbacks.act(d);
        --m_acting;
    }
}

void HotkeyQueue::keepOnly(const std::vector<Hotkey>& boundSorted) {
    for (auto it = m_down.begin(); it != m_down.end();)
        it = std::binary_search(boundSorted.begin(), boundSorted.end(), *it) ? std::next(it)
                                                                             : m_down.erase(it);
}

} // namespace kq
