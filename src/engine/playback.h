#pragma once
// Playback: typing the next line of the single list, or the line of a slot row.
#include "engine/keystroke.h"
#include "engine/macrostate.h"
#include "engine/messages.h"

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace kq {

// A failure inside playback (text the sender refuses, an index outside the list). Playback
// catches it itself and shows the one message; it never reaches the keyboard filter.
struct PlaybackError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// What single-list playback reads from the single-list window.
class SingleListView {
public:
    virtual ~SingleListView() = default;
    virtual int16_t AutoBackspaceValue() const = 0; // "Auto Backspace": 0, 1 or 2 (greyed)
    virtual bool AddEnterChecked() const = 0;       // "Add Enter" carries its check mark
    virtual int LineCount() const = 0;
    virtual std::string Line(int index) const = 0;
    // Changes whenever a line is added, removed or edited, so an unchanged list need not be copied.
    virtual uint64_t LinesRevision() const = 0;
    // Sets the selected index; when it changes, the list's click handler runs before this returns.
    virtual void SelectLine(int16_t index) = 0;
};

// What slot playback reads from the twelve rows of the multi-slot window (row 0 = F1).
class SlotRowsView {
public:
    virtual ~SlotRowsView() = default;
    virtual int16_t EnabledValue(int row) const = 0;
    virtual int16_t AddEnterValue(int row) const = 0;
    virtual std::string CommandText(int row) const = 0;
};

class UserInterface {
public:
    virtual ~UserInterface() = default;
    virtual void YieldEvents() = 0;
    // Modal; returns the button pressed.
    virtual Answer ShowMessage(std::string_view text, MessageKind kind, std::string_view title) = 0;
};

// Parses keystroke text and hands it to the sink; throws PlaybackError if either refuses.
void SendKeys(KeystrokeSink& sink, std::string_view text);

class Playback {
public:
    // Rebuilding a long copy yields to pending events once per this many lines (and at least once).
    static constexpr int kLinesPerYield = 256;

    Playback(MacroState& state, SingleListView& list, SlotRowsView& rows, KeystrokeSink& sink,
             UserInterface& ui)
        : m_state(state), m_list(list), m_rows(rows), m_sink(sink), m_ui(ui) {}

    // Rebuilds Commands (indexes 0..Dimention) from the list and selects line CommandIndex.
    // Throws PlaybackError when a line does not fit or there is no line to select.
    void InitiateMacro(int16_t Dimention);
    void NextCommand();
    void NextCommand2(int16_t functionkey);
    // What NextCommand / NextCommand2 would hand to SendKeys now, one text per call, changing
    // nothing; nullopt where they would send nothing or fail before sending.
    std::optional<std::vector<std::string>> NextCommandTexts() const;
    std::optional<std::vector<std::string>> NextCommand2Texts(int16_t functionkey) const;

private:
    std::string lineText() const;                                   // throws PlaybackError
    std::optional<std::string> slotText(int16_t functionkey) const; // nullopt: row not enabled
    void advance();
    void reportFailure();

    MacroState& m_state;
    SingleListView& m_list;
    SlotRowsView& m_rows;
    KeystrokeSink& m_sink;
    UserInterface& m_ui;
    uint64_t m_copiedRevision = 0;
    bool m_copyValid = false;
};

} // namespace kq
