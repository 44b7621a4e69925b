#include "keyquill_driver.h"

#include <fstream>

namespace kq::bench {

using e2e::Desktop;

bool KeyquillDriver::start(const std::string& program) {
    m_pid = e2e::spawn(program, {});
    m_main = m_desk.findWindow("Keyquill");
    return m_main != 0;
}

void KeyquillDriver::stop() {
    e2e::terminate(m_pid);
    m_pid = 0;
}

void KeyquillDriver::openThroughDialog(Window window, const std::vector<std::string>& menu,
                                       const std::string& path) {
    m_desk.focus(window);
    m_desk.keys(menu);
    Desktop::settle(400);
    m_desk.type(path);
    m_desk.key("Return");
    Desktop::settle(300);
}

void KeyquillDriver::loadList(const std::string& name, const std::string& content) {
    const std::string path = m_dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content << "\r\n";
    openThroughDialog(m_main, {"alt+f", "Return"}, path);
}

void KeyquillDriver::enableWithoutBackspace() {
    const e2e::Rect r = m_desk.geometry(m_main);
    const int top = r.y + r.h - 201;
    m_desk.click(r.x + 88 + 7, top + 8 + 8);
    m_desk.click(r.x + 16 + 7, top + 8 + 8);
}

Window KeyquillDriver::switchToMultiSlot() {
    m_desk.focus(m_main);
    m_desk.keys({"alt+f", "Down", "Down", "Down", "Down", "Down", "Return"});
    return m_desk.findWindow("Keyquill - Config 1");
}

void KeyquillDriver::loadSlotSet(Window multi, const std::string& path) {
    openThroughDialog(multi, {"alt+f", "Return"}, path);
}

void KeyquillDriver::fillRow(Window multi, int r, const std::string& text) {
    const e2e::Rect g = m_desk.geometry(multi);
    const int rowY = g.y + g.h - 513 + 24 + 40 * r + 16 + 8;
    m_desk.focus(multi);
    m_desk.click(g.x + 16 + 64 + 100, rowY);
    m_desk.type(text);
    m_desk.click(g.x + 16 + 8 + 7, rowY);
}

} // namespace kq::bench
