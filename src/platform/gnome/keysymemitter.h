#pragma once
// Typing on GNOME, by the extension or the RemoteDesktop portal: keys are keysyms, and mutter
// finds the key and its level in the layout in use itself.
//
// Quirk: mutter types a keysym only when the layout in use has a key for it, and drops the others
// without a word ("No keycode found for keyval"). Which of the user's layouts is in use is told to
// the focused window alone, so a character is typed as a key only when every layout has one, and
// pasted otherwise. The keymap is read before each line: the user may change it.
#include "platform/linetyper.h"
#include "platform/namedkeys.h"
#include "platform/wayland/compositorkeymap.h"

#include <xkbcommon/xkbcommon.h>

#include <memory>

namespace kq {

struct KeysymEmitter : KeyEmitter {
    explicit KeysymEmitter(std::unique_ptr<CompositorKeymap> keymap) : layout(std::move(keymap)) {}

    bool begin(uint32_t*) override { return layout->refresh(); }
    std::optional<EmittedKey> resolve(const KeyStroke& s) override {
        if (s.named) return EmittedKey{KeysymForNamedKey(s.key)};
        if (!layout->layout().inEveryGroup(s.ch)) return std::nullopt;
        return EmittedKey{xkb_utf32_to_keysym(s.ch)};
    }
    uint32_t heldKeyCode(HeldKey k) override {
        return k == HeldKey::Shift     ? XKB_KEY_Shift_L
               : k == HeldKey::Control ? XKB_KEY_Control_L
               : k == HeldKey::Alt     ? XKB_KEY_Alt_L
                                       : 0;
    }

    std::unique_ptr<CompositorKeymap> layout;
};

} // namespace kq
