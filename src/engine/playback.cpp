#include "engine/playback.h"

#include "engine/escape.h"
#include "engine/messages.h"
#include "engine/notation.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace kq {

namespace {

// Keys go to the sink in runs as long as nothing changes the pace. Under a delay each key is a
// send of its own, so that it has reached the desktop before the wait that follows it.
bool SendPaced(KeystrokeSink& sink, const KeyStrokes& strokes) {
    using std::chrono::milliseconds;
    const auto paced = [](const KeyStroke& s) { return s.pace != Pace::Steady; };
    if (std::none_of(strokes.begin(), strokes.end(), paced)) return sink.send(strokes);
    milliseconds delay{0};
    bool keySent = false;
    KeyStrokes run;
    const auto flush = [&] {
        const bool ok = run.empty() || sink.send(run);
        keySent = keySent || !run.empty();
        run.clear();
        return ok;
    };
    for (const KeyStroke& s : strokes) {
        if (!paced(s) && delay.count() == 0) {
            run.push_back(s);
        } else if (!paced(s)) {
            if (keySent) std::this_thread::sleep_for(delay);
            if (!sink.send({s})) return false;
            keySent = true;
        } else {
            if (!flush()) return false;
            if (s.pace == Pace::Delay)
                delay = milliseconds(s.milliseconds);
            else
                std::this_thread::sleep_for(milliseconds(s.milliseconds));
        }
    }
    return flush();
}

} // namespace

void SendKeys(KeystrokeSink& sink, std::string_view text) {
    const NotationResult parsed = ParseNotation(text);
    if (!parsed.ok())
        throw PlaybackError("keystroke text at " + std::to_string(parsed.error->position) + ": " +
                            parsed.error->reason);
    if (!SendPaced(sink, parsed.strokes)) throw PlaybackError("the keys could not be typed");
}

void Playback::InitiateMacro(int16_t Dimention) {
    const int count = m_list.LineCount();
    const uint64_t revision = m_list.LinesRevision();
    const bool unchanged = m_copyValid && m_state.CommandsAllocated && revision == m_copiedRevision &&
                           m_state.upperBound() == Dimention && count == Dimention + 1;
    if (unchanged) {
        // The copy already holds exactly these lines: rebuilding it would give the same vector.
        // Still give pending events their turn, as a rebuild would.
        m_ui.YieldEvents();
    } else {
        m_copyValid = false;
        m_state.Commands.assign(Dimention >= 0 ? static_cast<size_t>(Dimention) + 1 : 0, std::string());
        m_state.CommandsAllocated = true;
        for (int i = 0; i < count; ++i) {
            if (i > Dimention) throw PlaybackError("the list has more lines than the copy holds");
            m_state.Commands[static_cast<size_t>(i)] = m_list.Line(i);
            if (i % kLinesPerYield == 0) m_ui.YieldEvents();
        }
        if (count == 0) m_ui.YieldEvents();
        m_copiedRevision = revision;
        m_copyValid = m_list.LinesRevision() == revision && count == Dimention + 1;
    }
    const int16_t index = m_state.CommandIndex;
    if (index < -1 || index >= m_list.LineCount()) throw PlaybackError("no line to select");
    m_list.SelectLine(index);
}

void Playback::advance() {
    const int upper = m_state.upperBound();
    const int next = m_state.CommandIndex + 1;
    if (next > INT16_MAX) throw PlaybackError("line index overflow");
    m_state.CommandIndex = static_cast<int16_t>(next);
    if (next == upper + 1) {
        m_state.CommandIndex = 0;
        InitiateMacro(static_cast<int16_t>(upper));
    }
}

void Playback::reportFailure() {
    m_ui.ShowMessage(kMsgIllegalCharacters, MessageKind::Critical, kProgramTitle);
}

std::string Playback::lineText() const {
    const int index = m_state.CommandIndex;
    if (index < 0 || index > m_state.upperBound()) throw PlaybackError("line index outside the list");
    std::string text = EscapeParentheses(m_state.Commands[static_cast<size_t>(index)]);
    if (m_list.AddEnterChecked()) text.push_back('\r');
    return text;
}

std::optional<std::string> Playback::slotText(int16_t functionkey) const {
    if (functionkey < 0 || functionkey > 11) throw PlaybackError("no such slot row");
    if (m_rows.EnabledValue(functionkey) != 1) return std::nullopt;
    std::string text = EscapeParentheses(m_rows.CommandText(functionkey));
    if (m_rows.AddEnterValue(functionkey) == 1) text.push_back('\r');
    return text;
}

std::optional<std::vector<std::string>> Playback::NextCommandTexts() const {
    try {
        std::vector<std::string> texts;
        if (m_list.AutoBackspaceValue() == 1) texts.emplace_back("{DEL}");
        texts.push_back(lineText());
        return texts;
    } catch (const PlaybackError&) {
        return std::nullopt;
    }
}

std::optional<std::vector<std::string>> Playback::NextCommand2Texts(int16_t functionkey) const {
    try {
        auto text = slotText(functionkey);
        if (!text) return std::nullopt;
        return std::vector<std::string>{std::move(*text)};
    } catch (const PlaybackError&) {
        return std::nullopt;
    }
}

void Playback::NextCommand() {
    try {
        if (m_list.AutoBackspaceValue() == 1) SendKeys(m_sink, "{DEL}");
        SendKeys(m_sink, lineText());
        advance();
    } catch (const PlaybackError&) {
        // Skip the failing line. A failure while skipping (the rebuild at a wrap) must not escape
        // into the keyboard filter either, so it is absorbed here.
        try {
            advance();
        } catch (const PlaybackError&) {
        }
        reportFailure();
    }
}

void Playback::NextCommand2(int16_t functionkey) {
    try {
        if (const auto text = slotText(functionkey)) SendKeys(m_sink, *text);
    } catch (const PlaybackError&) {
        reportFailure();
    }
}

} // namespace kq
