#pragma once
// The engine wired to the real X11 keyboard, without any window: an in-memory list and slot
// rows stand in for the windows, and a real X client records what arrives.
#include "engine/hook.h"
#include "engine/playback.h"
#include "platform/x11/x11keyboard.h"
#include "xvfb.h"

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kq::e2e {

struct ListModel : SingleListView {
    std::vector<std::string> lines;
    int selected = -1;
    int16_t autoBackspace = 0;
    bool addEnter = false;
    uint64_t revision = 1;
    std::function<void()> onClick;

    int16_t AutoBackspaceValue() const override { return autoBackspace; }
    bool AddEnterChecked() const override { return addEnter; }
    int LineCount() const override { return static_cast<int>(lines.size()); }
    std::string Line(int i) const override { return lines[static_cast<size_t>(i)]; }
    uint64_t LinesRevision() const override { return revision; }
    void SelectLine(int16_t index) override {
        if (index == selected) return;
        selected = index;
        if (onClick) onClick();
    }
};

struct RowsModel : SlotRowsView {
    int16_t enabled[12] = {};
    int16_t addEnter[12] = {};
    std::string text[12];
    int16_t EnabledValue(int r) const override { return enabled[r]; }
    int16_t AddEnterValue(int r) const override { return addEnter[r]; }
    std::string CommandText(int r) const override { return text[r]; }
};

class KeyboardWorld : public HookHost, public UserInterface {
public:
    bool start(std::string* error);
    ~KeyboardWorld() override;

    // The "user": real key events through XTest on a connection of its own.
    void press(unsigned long keysym);
    void release(unsigned long keysym);
    void tap(unsigned long keysym) { press(keysym), release(keysym); }
    // Runs the program side (the filter's events) for up to `ms`, or until `done` holds.
    bool pump(int ms, const std::function<bool()>& done = {});
    bool waitForText(const std::string& expected, int ms = 10000);
    std::string text() const { return readFile(m_textPath); }
    std::string events() const { return readFile(m_eventsPath); }
    void clearTarget();
    // Loads lines into the list as the command list loader would (cursor 0, copy rebuilt).
    void load(std::vector<std::string> lines);
    void setMode(int16_t mode);
    void keysDown(std::vector<int>& down) const;

    MacroState state;
    ListModel list;
    RowsModel rows;
    std::unique_ptr<X11Keyboard> keyboard;
    std::unique_ptr<Playback> playback;
    std::vector<std::string> messages;
    Display* user = nullptr;

    void NextCommand() override { playback->NextCommand(); }
    void NextCommand2(int16_t k) override { playback->NextCommand2(k); }
    void SelectListIndex(int16_t index) override { list.SelectLine(index); }
    void YieldEvents() override;
    int ShowMessage(std::string_view text, int, std::string_view) override;

private:
    void syncWatched();
    pid_t m_target = 0;
    unsigned long m_window = 0;
    std::string m_textPath, m_eventsPath;
};

} // namespace kq::e2e
