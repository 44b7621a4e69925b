#include "platform/hotkeyqueue.h"

#include <algorithm>
#include <iterator>

namespace kq {

void HotkeyQueue::run(const KeyFilter::Callbacks& callbacks) {
    while (!m_stash.empty() && m_acting == 0) {
        const Event e = m_stash.front();
        m_stash.pop_front();
        HookDecision d;
        if (!e.release) {
            d = callbacks.decide({0, MsgKeyDown, e.vk});
            // The compositor has swallowed the press already; the dispatch swallows every key bound.
            m_down.insert(e.vk);
        } else if (m_down.erase(e.vk)) {
            d = callbacks.decide({0, MsgKeyUp, e.vk});
        } else {
            continue;
        }
        ++m_acting;
        callbacks.act(d);
        --m_acting;
    }
}

void HotkeyQueue::keepOnly(const std::vector<uint32_t>& boundSorted) {
    for (auto it = m_down.begin(); it != m_down.end();)
        it = std::binary_search(boundSorted.begin(), boundSorted.end(), *it) ? std::next(it)
                                                                             : m_down.erase(it);
}

} // namespace kq
