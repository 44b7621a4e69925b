// Engine and file benchmarks: parse one line of notation, load a 32,767-line command list,
// load and save a full slot set, and one hotkey press on a 32,767-line list.
#include "engine/dispatch.h"
#include "engine/hotkey.h"
#include "engine/notation.h"
#include "engine/playback.h"
#include "files/commandlist.h"
#include "files/slotsetfile.h"

#include <benchmark/benchmark.h>

#include <filesystem>
#include <string>
#include <vector>

namespace {

std::string tempPath(const char* name) {
    return (std::filesystem::temp_directory_path() / (std::string("kq-bench-") + name)).string();
}

void BM_ParseNotationLine(benchmark::State& state) {
    const std::string line = "ssh admin@10.0.0.1 {(}port 22{)} +(hello) ^a{DEL}{LEFT 3}~ déjà vu €";
    for (auto _ : state)
        benchmark::DoNotOptimize(kq::ParseNotation(line));
}
BENCHMARK(BM_ParseNotationLine);

void BM_LoadCommandList32767(benchmark::State& state) {
    const std::string path = tempPath("list.txt");
    std::vector<std::string> lines;
    for (int i = 0; i < kq::kMaxListLines; ++i)
        lines.push_back("command line number " + std::to_string(i));
    std::string p = path;
    kq::WriteCommandList(lines, p);
    for (auto _ : state)
        benchmark::DoNotOptimize(kq::ReadCommandList(path));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadCommandList32767)->Unit(benchmark::kMillisecond);

kq::SlotStore fullStore() {
    kq::SlotStore store;
    for (int c = 1; c <= 12; ++c)
        for (int s = 1; s <= 12; ++s) {
            store.SlotEnabled(c, s) = (c + s) % 2 == 0;
            store.SlotAddEnter(c, s) = s % 3 == 0;
            store.SlotCommand(c, s) =
                "echo config " + std::to_string(c) + ", slot " + std::to_string(s) + "  ";
        }
    return store;
}

void BM_SaveSlotSet(benchmark::State& state) {
    const std::string path = tempPath("slots.txt");
    const kq::SlotStore store = fullStore();
    for (auto _ : state)
        benchmark::DoNotOptimize(kq::WriteSlotSetFile(path, store));
    std::filesystem::remove(path);
}
BENCHMARK(BM_SaveSlotSet)->Unit(benchmark::kMicrosecond);

void BM_LoadSlotSet(benchmark::State& state) {
    const std::string path = tempPath("slots-load.txt");
    kq::WriteSlotSetFile(path, fullStore());
    kq::SlotStore store;
    for (auto _ : state)
        benchmark::DoNotOptimize(kq::ReadSlotSetFile(path, store));
    std::filesystem::remove(path);
}
BENCHMARK(BM_LoadSlotSet)->Unit(benchmark::kMicrosecond);

// A list that behaves like the window's list box: selecting a new line runs the click handler,
// which takes the selection as the cursor and rebuilds the working copy.
class BenchList : public kq::SingleListView, public kq::HotkeyHost {
public:
    kq::MacroState state;
    std::vector<std::string> lines;
    int selected = -1;
    kq::Playback* playback = nullptr;

    int16_t AutoBackspaceValue() const override { return 1; }
    bool AddEnterChecked() const override { return false; }
    int LineCount() const override { return static_cast<int>(lines.size()); }
    std::string Line(int i) const override { return lines[static_cast<size_t>(i)]; }
    uint64_t LinesRevision() const override { return 1; }
    void SelectLine(int16_t index) override {
        if (index == selected) return;
        selected = index;
        state.CommandIndex = index;
        playback->InitiateMacro(static_cast<int16_t>(lines.size() - 1));
    }
    void NextCommand() override { playback->NextCommand(); }
    void NextCommand2(int16_t k) override { playback->NextCommand2(k); }
    void SelectListIndex(int16_t index) override { SelectLine(index); }
    void YieldEvents() override {}
};

struct NullRows : kq::SlotRowsView {
    int16_t EnabledValue(int) const override { return 0; }
    int16_t AddEnterValue(int) const override { return 0; }
    std::string CommandText(int) const override { return {}; }
};
struct NullSink : kq::KeystrokeSink {
    size_t keys = 0;
    bool send(const kq::KeyStrokes& s) override { return keys += s.size(), true; }
};
struct NullUi : kq::UserInterface {
    void YieldEvents() override {}
    kq::Answer ShowMessage(std::string_view, kq::MessageKind, std::string_view) override {
        return kq::Answer::Ok;
    }
};

void BM_PressOn32767Lines(benchmark::State& state) {
    BenchList list;
    NullRows rows;
    NullSink sink;
    NullUi ui;
    kq::Playback playback(list.state, list, rows, sink, ui);
    list.playback = &playback;
    for (int i = 0; i < kq::kMaxListLines; ++i)
        list.lines.push_back("line " + std::to_string(i));
    list.state.MacroMode = kq::ModeSingleList;
    list.state.BindKey = kq::Hotkey::Tab;
    list.state.MacroEnabled = true;
    playback.InitiateMacro(static_cast<int16_t>(list.lines.size() - 1));
    for (auto _ : state) {
        for (bool release : {false, true})
            kq::RunHotkeyActions(list.state, kq::DecideHotkey(list.state, {kq::Hotkey::Tab, release}), list);
    }
    benchmark::DoNotOptimize(sink.keys);
}
BENCHMARK(BM_PressOn32767Lines)->Unit(benchmark::kMicrosecond);

} // namespace

BENCHMARK_MAIN();
