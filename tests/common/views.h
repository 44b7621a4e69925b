#pragma once
// The single list and the slot rows as playback sees them, without any window.
#include "engine/playback.h"

#include <array>
#include <string>
#include <utility>
#include <vector>

namespace kq::test {

// A list box: selecting a different line runs its click handler, which takes the selection as the
// line to type next and rebuilds the working copy. Selecting the same line again does nothing.
struct ListModel : SingleListView {
    MacroState* state = nullptr;
    Playback* playback = nullptr;
    std::vector<std::string> lines;
    uint64_t revision = 1;
    int16_t selected = -1, autoBackspace = 0;
    bool addEnter = false;
    int clicks = 0; // times the click handler ran

    int16_t AutoBackspaceValue() const override { return autoBackspace; }
    bool AddEnterChecked() const override { return addEnter; }
    int LineCount() const override { return static_cast<int>(lines.size()); }
    std::string Line(int index) const override { return lines.at(static_cast<size_t>(index)); }
    uint64_t LinesRevision() const override { return revision; }
    void SelectLine(int16_t index) override {
        if (index == selected) return;
        selected = index, state->CommandIndex = index, ++clicks;
        playback->InitiateMacro(static_cast<int16_t>(LineCount() - 1));
    }
    // As the command list loader does: new lines, cursor at 0, then a rebuild.
    void load(std::vector<std::string> text) {
        lines = std::move(text), ++revision, selected = -1, state->CommandIndex = 0;
        if (!lines.empty()) playback->InitiateMacro(static_cast<int16_t>(lines.size() - 1));
    }
    void edit(size_t index, std::string text) { lines.at(index) = std::move(text), ++revision; }
};

struct RowsModel : SlotRowsView {
    std::array<int16_t, 12> enabled{}, addEnter{};
    std::array<std::string, 12> text;
    int16_t EnabledValue(int row) const override { return enabled.at(size_t(row)); }
    int16_t AddEnterValue(int row) const override { return addEnter.at(size_t(row)); }
    std::string CommandText(int row) const override { return text.at(size_t(row)); }
};

} // namespace kq::test
