#include "platform/linetyper.h"

#include <utility>
#include <vector>

namespace kq {

bool LineTyper::fence() {
    m_pacer.pace();
    m_fenced = true;
    return m_emitter.roundTrip();
}

bool LineTyper::send(uint32_t code, bool pressed) {
    return m_emitter.key(code, pressed) && (!m_pacer.sent() || fence());
}

bool LineTyper::useGroup(uint32_t group) {
    if (group == m_group) return true;
    if (!fence() || !m_emitter.useGroup(group)) return false;
    m_group = group;
    return true;
}

// The keys held around a stroke, outermost first: the notation's Control and Alt, then Shift
// (asked for, or the key's second level), then AltGr for its third.
bool LineTyper::stroke(const EmittedKey& key, uint8_t mods) {
    struct Hold {
        uint32_t code;
        uint8_t mod;
    };
    std::vector<Hold> holds;
    const auto hold = [&](HeldKey k, uint8_t mod) {
        if (const uint32_t code = m_emitter.heldKeyCode(k)) holds.push_back({code, mod});
    };
    if (mods & ModControl) hold(HeldKey::Control, ModControl);
    if (mods & ModAlt) hold(HeldKey::Alt, ModAlt);
    if (key.shift || (mods & ModShift)) hold(HeldKey::Shift, ModShift);
    if (key.level3) hold(HeldKey::Level3, 0);
    uint8_t held = 0;
    bool ok = useGroup(key.group);
    for (const Hold& h : holds)
        ok = ok && send(h.code, true) && (!h.mod || m_emitter.modifiersHeld(held |= h.mod));
    ok = ok && send(key.code, true) && send(key.code, false);
    for (auto it = holds.rbegin(); it != holds.rend(); ++it)
        ok = ok && send(it->code, false) && (!it->mod || m_emitter.modifiersHeld(held &= ~it->mod));
    return ok;
}

// Characters no key types go through the clipboard, a run of them at a time, pasted with Ctrl+V
// (in a group that has V).
bool LineTyper::pasteRun(const std::u32string& run) {
    const auto v = m_emitter.pasteKey();
    if (!v || !m_emitter.heldKeyCode(HeldKey::Control) || !fence()) return false;
    return m_emitter.paste(run, [&] { return stroke(*v, ModControl) && fence(); });
}

bool LineTyper::typePart(const KeyStrokes& strokes, size_t from, size_t to) {
    for (size_t i = from; i < to;) {
        // Only between strokes: the emitter may reset the modifiers a stroke holds.
        if (std::exchange(m_fenced, false) && !m_emitter.betweenStrokes()) return false;
        if (const auto key = m_emitter.resolve(strokes[i])) {
            if (!stroke(*key, strokes[i].modifiers)) return false;
            ++i;
            continue;
        }
        std::u32string run;
        for (; i < to && !m_emitter.resolve(strokes[i]); ++i)
            run += strokes[i].ch;
        if (!pasteRun(run)) return false;
    }
    return true;
}

bool LineTyper::type(const KeyStrokes& strokes) {
    m_group = 0;
    m_fenced = false;
    if (!m_emitter.begin(&m_group)) return false;
    for (const KeyStroke& s : strokes)
        if (!m_emitter.resolvable(s) && (s.named || s.modifiers != ModNone)) return m_emitter.finish(), false;
    bool ok = true;
    for (size_t from = 0, to = 0; ok && from < strokes.size(); from = to)
        ok = m_emitter.prepare(strokes, from, &to) && typePart(strokes, from, to);
    ok = fence() && ok;
    return m_emitter.finish() && ok;
}

} // namespace kq
