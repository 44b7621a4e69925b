#include "platform/fake/fakekeyboard.h"

#include "engine/utf8.h"

namespace kq {

bool FakeKeyboard::install(Callbacks callbacks) {
    m_callbacks = std::move(callbacks);
    m_installed = true;
    return true;
}

bool FakeKeyboard::send(const KeyStrokes& strokes) {
    if (refuseSends) return false;
    sends.push_back(strokes);
    return true;
}

Verdict FakeKeyboard::inject(const KeyEvent& event) {
    if (!m_installed) return Verdict::Pass;
    const HotkeyDecision d = m_callbacks.decide(event);
    m_callbacks.act(d);
    return d.verdict;
}

std::string FakeKeyboard::typedText() const {
    static const char* const names[] = {
        "BACKSPACE", "BREAK",      "CAPSLOCK", "DEL",  "DOWN",    "END",      "\n",       "ESC",
        "HELP",      "HOME",       "INS",      "LEFT", "NUMLOCK", "PGDN",     "PGUP",     "PRTSC",
        "RIGHT",     "SCROLLLOCK", "TAB",      "UP",   "F1",      "F2",       "F3",       "F4",
        "F5",        "F6",         "F7",       "F8",   "F9",      "F10",      "F11",      "F12",
        "F13",       "F14",        "F15",      "F16",  "ADD",     "SUBTRACT", "MULTIPLY", "DIVIDE"};
    std::string out;
    for (const KeyStrokes& send : sends)
        for (const KeyStroke& s : send) {
            if (!s.named) {
                AppendUtf8(out, s.ch);
            } else if (s.key == NamedKey::Enter) {
                out += '\n';
            } else {
                out += '<';
                out += names[static_cast<int>(s.key)];
                out += '>';
            }
        }
    return out;
}

} // namespace kq
