#pragma once
// The real keyquill driven as a user drives it, for the benchmarks: started, a list loaded through
// its file dialog, "Enabled" ticked, the multi-slot window opened and a slot set loaded.
#include "desktop.h"

#include <string>

namespace kq::bench {

class KeyquillDriver {
public:
    KeyquillDriver(e2e::Desktop& desk, std::string dir) : m_desk(desk), m_ui(desk), m_dir(std::move(dir)) {}
    ~KeyquillDriver() { stop(); }
    bool start(const std::string& program);
    // The same where Keyquill shows a notice with its window at start (answered here).
    bool startPastNotice(const std::string& program);
    void stop();
    pid_t pid() const { return m_pid; }
    Window mainWindow() const { return m_main; }
    // Writes `content` (CR LF added) to a file in the benchmark's folder and opens it.
    void loadList(const std::string& name, const std::string& content);
    // Unticks "Auto Backspace" (ticked at start) and ticks "Enabled".
    void enableWithoutBackspace();
    // File > Switch to Multiline; 0 when the window did not appear.
    Window switchToMultiSlot();
    // File > Load in the multi-slot window, of a slot set file already written.
    void loadSlotSet(Window multi, const std::string& path);
    // The multi-slot window's row r (F r+1): text typed in, "enable" ticked.
    void fillRow(Window multi, int r, const std::string& text);

private:
    e2e::Desktop& m_desk;
    e2e::KeyquillWindows m_ui;
    std::string m_dir;
    pid_t m_pid = 0;
    Window m_main = 0;
};

} // namespace kq::bench
