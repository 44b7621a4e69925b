#include "platform/sparepool.h"

#include <algorithm>

namespace kq {

void SparePool::setKeycodes(const std::vector<uint8_t>& keycodes) {
    std::vector<Entry> kept;
    for (uint8_t kc : keycodes)
        for (uint8_t level = 0; level < kLevels; ++level) {
            const auto old = std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) {
                return e.slot == Slot{kc, level};
            });
            kept.push_back(old != m_entries.end() ? *old : Entry{{kc, level}, 0, {}});
        }
    m_keycodes = keycodes;
    m_entries = std::move(kept);
}

SparePool::Entry* SparePool::entry(uint32_t sym) {
    const auto it =
        std::find_if(m_entries.begin(), m_entries.end(), [&](const Entry& e) { return e.sym == sym; });
    return it == m_entries.end() ? nullptr : &*it;
}

std::optional<SparePool::Slot> SparePool::find(uint32_t sym, int below) const {
    for (const Entry& e : m_entries)
        if (sym && e.sym == sym && e.slot.keycode < below) return e.slot;
    return std::nullopt;
}

std::optional<SparePool::Slot> SparePool::assign(uint32_t sym, Clock::time_point now, int below) {
    Entry* best = nullptr;
    for (Entry& e : m_entries) {
        if ((e.sym && now - e.used < m_grace) || e.slot.keycode >= below) continue;
        // Free slots first, then the one unused longest.
        const bool better = !best || (best->sym && (!e.sym || e.used < best->used));
        if (better) best = &e;
    }
    if (!best) return std::nullopt;
    best->sym = sym;
    best->used = now;
    m_lastUse = now;
    return best->slot;
}

void SparePool::touch(uint32_t sym, Clock::time_point now) {
    if (Entry* e = entry(sym)) e->used = now, m_lastUse = now;
}

SparePool::Clock::time_point SparePool::nextAvailable(Clock::time_point now, int below) const {
    Clock::time_point soonest = Clock::time_point::max();
    for (const Entry& e : m_entries) {
        if (e.slot.keycode >= below) continue;
        if (!e.sym) return now;
        soonest = std::min(soonest, e.used + m_grace);
    }
    return std::max(soonest, now);
}

std::vector<uint32_t> SparePool::contents(uint8_t keycode) const {
    std::vector<uint32_t> syms(kLevels, 0);
    for (const Entry& e : m_entries)
        if (e.slot.keycode == keycode) syms[e.slot.level] = e.sym;
    return syms;
}

bool SparePool::holdsAnything(uint8_t keycode) const {
    const auto syms = contents(keycode);
    return std::any_of(syms.begin(), syms.end(), [](uint32_t s) { return s != 0; });
}

void SparePool::forget(uint8_t keycode) {
    for (Entry& e : m_entries)
        if (e.slot.keycode == keycode) e.sym = 0;
}

void SparePool::forgetAll() {
    for (Entry& e : m_entries)
        e.sym = 0;
    m_lastUse.reset();
}

uint8_t SparePool::emptyKeycode() const {
    for (auto kc = m_keycodes.rbegin(); kc != m_keycodes.rend(); ++kc)
        if (!holdsAnything(*kc)) return *kc;
    return 0;
}

bool SparePool::empty() const {
    return std::none_of(m_entries.begin(), m_entries.end(), [](const Entry& e) { return e.sym != 0; });
}

} // namespace kq
