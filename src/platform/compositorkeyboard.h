#pragma once
// A keyboard backend whose compositor swallows the hotkeys itself and reports their presses and
// releases afterwards (sway bindings, portal shortcuts): the filter's state is kept here, and the
// backend only binds what it is handed.
#include "platform/hotkeyqueue.h"
#include "platform/keyboard.h"

#include <algorithm>
#include <utility>

namespace kq {

class CompositorKeyboard : public PlatformKeyboard {
public:
    bool install(Callbacks callbacks) override {
        m_callbacks = std::move(callbacks);
        m_installed = true;
        bindNow();
        return true;
    }
    void remove() override {
        if (!m_installed) return;
        m_installed = false;
        bindNow();
        m_queue.clear();
    }
    bool installed() const override { return m_installed; }
    void setWatchedKeys(const std::vector<Hotkey>& keys) override {
        std::vector<Hotkey> sorted = keys;
        std::sort(sorted.begin(), sorted.end());
        if (sorted == m_watched) return;
        m_watched = std::move(sorted);
        bindNow();
    }

protected:
    // The keys the compositor should swallow from now on (sorted; none once removed).
    virtual void bind(const std::vector<Hotkey>& keys) = 0;
    void bindNow() { bind(m_installed ? m_watched : std::vector<Hotkey>{}); }
    // As on X11: events are acted on one after another, never inside another's yields.
    void runQueue() {
        if (m_installed) m_queue.run(m_callbacks);
    }

    HotkeyQueue m_queue;

private:
    Callbacks m_callbacks;
    bool m_installed = false;
    std::vector<Hotkey> m_watched; // sorted
};

} // namespace kq
