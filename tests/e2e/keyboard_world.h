#pragma once
// The engine wired to the real X11 keyboard, without any window: an in-memory list and slot
// rows stand in for the windows, and a real X client records what arrives.
#include "engine/dispatch.h"
#include "engine/playback.h"
#include "platform/inputmethod/directinput.h"
#include "platform/x11/x11keyboard.h"
#include "views.h"
#include "xvfb.h"

#include <X11/Xlib.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace kq::e2e {

class KeyboardWorld : public HotkeyHost, public UserInterface {
public:
    // Starts the keyboard and a target client that records what it receives (by default our
    // own Xlib one; `target` names another program that speaks the same protocol, see target.cpp).
    bool start(std::string* error, SpareTimings timings = {}, const std::vector<std::string>& target = {});
    ~KeyboardWorld() override;

    // A recording target window; `name` keeps its files apart from the others'.
    struct Target {
        pid_t pid = 0;
        Window window = 0;
        std::string textPath, eventsPath;
    };
    Target openTarget(const std::string& name, const std::vector<std::string>& command = {});
    void focus(Window window);
    // The main target ended (or is ended now): a new one takes its place and the focus.
    bool replaceTarget();

    // The "user": real key events through XTest on a connection of its own.
    void press(unsigned long keysym) { fakeKey(keysym, true); }
    void release(unsigned long keysym) { fakeKey(keysym, false); }
    void tap(unsigned long keysym) { press(keysym), release(keysym); }
    // Runs the program side (the filter's events) for up to `ms`, or until `done` holds.
    bool pump(int ms, const std::function<bool()>& done = {});
    // The program has acted on every key event the server had sent it until now.
    void catchUp();
    bool waitForText(const std::string& expected, int ms = 10000);
    std::string text() const { return readFile(m_main.textPath); }
    std::string events() const { return readFile(m_main.eventsPath); }
    void clearTarget();
    void load(std::vector<std::string> lines) { list.load(std::move(lines)); }
    // The lines in the single list, and in the slot rows from `firstRow` on with their "enable"
    // boxes ticked; the keys act in `mode`. The target is emptied.
    void use(int16_t mode, const std::vector<std::string>& lines, size_t firstRow = 0) {
        state.MacroMode = mode;
        rows = {};
        for (size_t i = 0; i < lines.size(); ++i)
            rows.enabled.at(firstRow + i) = 1, rows.text.at(firstRow + i) = lines[i];
        load(lines);
        clearTarget();
    }
    std::vector<int> keysDown() const;
    pid_t targetPid() const { return m_main.pid; }
    const std::string& textPath() const { return m_main.textPath; }

    MacroState state;
    test::ListModel list;
    test::RowsModel rows;
    std::unique_ptr<X11Keyboard> keyboard;
    std::unique_ptr<DirectInputSink> sender; // the typing as the program does it
    std::unique_ptr<Playback> playback;
    std::vector<std::string> messages;
    Display* user = nullptr;

    void NextCommand() override { playback->NextCommand(); }
    void NextCommand2(int16_t k) override { playback->NextCommand2(k); }
    void SelectListIndex(int16_t index) override { list.SelectLine(index); }
    void YieldEvents() override {
        if (duringYield) duringYield();
        keyboard->processPendingEvents();
    }
    // Run at each yield of an action (the user pressing a key just then).
    std::function<void()> duringYield;
    Answer ShowMessage(std::string_view text, MessageKind, std::string_view) override {
        return messages.emplace_back(text), Answer::Ok;
    }

private:
    void fakeKey(unsigned long keysym, bool down);
    Target m_main;
    std::vector<Target> m_others;
};

} // namespace kq::e2e
