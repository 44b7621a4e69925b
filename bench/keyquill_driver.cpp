#include "keyquill_driver.h"

#include <fstream>

namespace kq::bench {

bool KeyquillDriver::start(const std::string& program) {
    m_pid = e2e::spawn(program, {});
    m_main = m_desk.findWindow("Keyquill");
    return m_main != 0;
}

bool KeyquillDriver::startPastNotice(const std::string& program) {
    m_pid = e2e::spawn(program, {});
    m_main = e2e::MainWindowPastNotice(m_desk);
    return m_main != 0;
}

void KeyquillDriver::stop() {
    e2e::terminate(m_pid);
    m_pid = 0;
}

void KeyquillDriver::loadList(const std::string& name, const std::string& content) {
    const std::string path = m_dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content << "\r\n";
    m_ui.loadList(m_main, path);
}

void KeyquillDriver::enableWithoutBackspace() {
    m_ui.clickAutoBackspace(m_main);
    m_ui.clickEnabled(m_main);
}

Window KeyquillDriver::switchToMultiSlot() {
    return m_ui.openMultiSlot(m_main);
}

void KeyquillDriver::loadSlotSet(Window multi, const std::string& path) {
    m_ui.fileDialog(multi, {"alt+f", "Return"}, path);
}

void KeyquillDriver::fillRow(Window multi, int r, const std::string& text) {
    m_ui.fillRow(multi, r, text);
}

} // namespace kq::bench
