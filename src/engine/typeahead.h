#pragma once
// The lines of hotkey presses, typed the moment a keyboard backend reads the press on its own
// thread (PlatformKeyboard::startReadingAhead), before the UI thread has woken. The UI thread
// prepares what each press would type; playback then runs as always, and its sends for that press
// get the results of what was typed already instead of typing it again.
#include "engine/dispatch.h"
#include "engine/keystroke.h"
#include "engine/notation.h"

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace kq {

class TypeAhead : public KeystrokeSink {
public:
    // What a press would hand to SendKeys: the press's mode and slot row, one text per call.
    struct Press {
        int16_t mode = 0;
        int16_t functionKey = -1;
        std::vector<std::string> texts;
    };

    explicit TypeAhead(KeystrokeSink& sender) : m_sender(sender) {}

    // UI thread, when it is about to wait: what each press would type now. Parsed here, so that
    // the backend's thread has only to type.
    void prepare(std::vector<Press> presses);
    // Backend thread: types the prepared texts of the press with this decision, up to a text
    // that is paced, does not parse or fails; each send's result is kept for playback.
    void typeFor(const HotkeyDecision& decision);
    // UI thread, after the press's actions: what was not taken is forgotten.
    void endPress();

    // Playback's sends: the results kept, in order, then the sender's.
    bool send(const KeyStrokes& strokes) override;

private:
    KeystrokeSink& m_sender;
    std::vector<Press> m_prepared;
    std::map<std::string, NotationResult> m_parsed; // each prepared text's
    std::vector<bool> m_typed;
    size_t m_taken = 0;
};

} // namespace kq
