#include "platform/namedkeys.h"

#include <xkbcommon/xkbcommon-keysyms.h>

namespace kq {

uint32_t KeysymForNamedKey(NamedKey k) {
    switch (k) {
    case NamedKey::Backspace:
        return XKB_KEY_BackSpace;
    case NamedKey::Break:
        return XKB_KEY_Break;
    case NamedKey::CapsLock:
        return XKB_KEY_Caps_Lock;
    case NamedKey::Delete:
        return XKB_KEY_Delete;
    case NamedKey::Down:
        return XKB_KEY_Down;
    case NamedKey::End:
        return XKB_KEY_End;
    case NamedKey::Enter:
        return XKB_KEY_Return;
    case NamedKey::Esc:
        return XKB_KEY_Escape;
    case NamedKey::Help:
        return XKB_KEY_Help;
    case NamedKey::Home:
        return XKB_KEY_Home;
    case NamedKey::Insert:
        return XKB_KEY_Insert;
    case NamedKey::Left:
        return XKB_KEY_Left;
    case NamedKey::NumLock:
        return XKB_KEY_Num_Lock;
    case NamedKey::PageDown:
        return XKB_KEY_Next;
    case NamedKey::PageUp:
        return XKB_KEY_Prior;
    case NamedKey::PrintScreen:
        return XKB_KEY_Print;
    case NamedKey::Right:
        return XKB_KEY_Right;
    case NamedKey::ScrollLock:
        return XKB_KEY_Scroll_Lock;
    case NamedKey::Tab:
        return XKB_KEY_Tab;
    case NamedKey::Up:
        return XKB_KEY_Up;
    case NamedKey::Add:
        return XKB_KEY_KP_Add;
    case NamedKey::Subtract:
        return XKB_KEY_KP_Subtract;
    case NamedKey::Multiply:
        return XKB_KEY_KP_Multiply;
    case NamedKey::Divide:
        return XKB_KEY_KP_Divide;
    default:
        break;
    }
    const int f = static_cast<int>(k) - static_cast<int>(NamedKey::F1);
    if (f >= 0 && f < 16) return XKB_KEY_F1 + static_cast<uint32_t>(f);
    return 0;
}

} // namespace kq
