#include "engine/typeahead.h"

#include "engine/macrostate.h"
#include "engine/notation.h"

#include <algorithm>

namespace kq {

void TypeAhead::prepare(std::vector<Press> presses) {
    // Most waits prepare the texts of the wait before: their parses are kept.
    std::map<std::string, NotationResult> parsed;
    for (const Press& p : presses)
        for (const std::string& text : p.texts) {
            if (parsed.count(text)) continue;
            const auto before = m_parsed.find(text);
            parsed.emplace(text, before != m_parsed.end() ? std::move(before->second) : ParseNotation(text));
        }
    m_parsed = std::move(parsed);
    m_prepared = std::move(presses);
}

void TypeAhead::typeFor(const HotkeyDecision& decision) {
    const auto press = std::find_if(m_prepared.begin(), m_prepared.end(), [&](const Press& p) {
        return p.mode == decision.mode && (p.mode != ModeMultiSlot || p.functionKey == decision.functionKey);
    });
    if (press == m_prepared.end()) return;
    endPress();
    const std::vector<std::string> texts = std::move(press->texts);
    m_prepared.clear(); // typed once: the press changes what the next one types
    for (const std::string& text : texts) {
        // As SendKeys would: a line without pauses goes to the sender in one send. A paced one
        // sleeps between its keys, which is left to playback on the UI thread.
        const NotationResult& parsed = m_parsed.at(text);
        const bool paced = std::any_of(parsed.strokes.begin(), parsed.strokes.end(),
                                       [](const KeyStroke& s) { return s.pace != Pace::Steady; });
        if (!parsed.ok() || paced) return;
        m_typed.push_back(m_sender.send(parsed.strokes));
        if (!m_typed.back()) return; // playback stops at a failed send too
    }
}

void TypeAhead::endPress() {
    m_typed.clear();
    m_taken = 0;
}

bool TypeAhead::send(const KeyStrokes& strokes) {
    if (m_taken < m_typed.size()) return m_typed[m_taken++];
    return m_sender.send(strokes);
}

} // namespace kq
