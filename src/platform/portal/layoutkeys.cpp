#include "platform/portal/layoutkeys.h"

#include <xkbcommon/xkbcommon.h>

#include <unordered_map>

namespace kq {

struct LayoutKeys::Table {
    std::unordered_map<uint32_t, LayoutKey> bySym;
    std::unordered_map<uint32_t, LayoutKey> byChar;
};

LayoutKeys::LayoutKeys() : m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)), m_table(new Table) {}

LayoutKeys::~LayoutKeys() {
    delete m_table;
    if (m_keymap) xkb_keymap_unref(m_keymap);
    if (m_context) xkb_context_unref(m_context);
}

bool LayoutKeys::load(const std::string& keymapText) {
    xkb_keymap* map = xkb_keymap_new_from_string(m_context, keymapText.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                                 XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map) return false;
    if (m_keymap) xkb_keymap_unref(m_keymap);
    m_keymap = map;
    rebuild();
    return true;
}

bool LayoutKeys::loadNames(const char* layout, const char* variant) {
    const xkb_rule_names names{"evdev", "pc105", layout, variant, ""};
    xkb_keymap* map = xkb_keymap_new_from_names(m_context, &names, XKB_KEYMAP_COMPILE_NO_FLAGS);
    if (!map) return false;
    if (m_keymap) xkb_keymap_unref(m_keymap);
    m_keymap = map;
    rebuild();
    return true;
}

void LayoutKeys::setState(uint32_t group, bool capsLocked) {
    if (group == m_group && capsLocked == m_caps) return;
    m_group = group;
    m_caps = capsLocked;
    rebuild();
}

std::optional<LayoutKey> LayoutKeys::forKeysym(uint32_t keysym) const {
    return find(false, keysym);
}

std::optional<LayoutKey> LayoutKeys::forChar(char32_t ch) const {
    return find(true, static_cast<uint32_t>(ch));
}

std::optional<LayoutKey> LayoutKeys::find(bool byChar, uint32_t value) const {
    const auto& map = byChar ? m_table->byChar : m_table->bySym;
    const auto it = map.find(value);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

// Every key under no modifier, Shift, AltGr and both, in the current group and lock state; the
// first (fewest modifiers, lowest keycode) to give a keysym keeps it.
void LayoutKeys::rebuild() {
    *m_table = {};
    m_shift = m_control = m_alt = m_level3 = 0;
    if (!m_keymap) return;
    xkb_state* state = xkb_state_new(m_keymap);
    const auto bit = [&](const char* name) {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(m_keymap, name);
        return i == XKB_MOD_INVALID ? 0u : 1u << i;
    };
    const uint32_t shift = bit(XKB_MOD_NAME_SHIFT), lock = m_caps ? bit(XKB_MOD_NAME_CAPS) : 0;
    const uint32_t level3 = bit("Mod5");
    const xkb_keycode_t lo = xkb_keymap_min_keycode(m_keymap), hi = xkb_keymap_max_keycode(m_keymap);
    for (xkb_keycode_t code = lo; code <= hi; ++code) {
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, m_group);
        const xkb_keysym_t plain = xkb_state_key_get_one_sym(state, code);
        uint32_t* slot = plain == XKB_KEY_Shift_L            ? &m_shift
                         : plain == XKB_KEY_Control_L        ? &m_control
                         : plain == XKB_KEY_Alt_L            ? &m_alt
                         : plain == XKB_KEY_ISO_Level3_Shift ? &m_level3
                                                             : nullptr;
        if (slot && !*slot) *slot = code;
    }
    for (int combo = 0; combo < 4; ++combo) {
        const bool withShift = combo & 1, withLevel3 = combo & 2;
        if ((withShift && !shift) || (withLevel3 && (!level3 || !m_level3))) continue;
        const uint32_t mods = (withShift ? shift : 0) | (withLevel3 ? level3 : 0);
        xkb_state_update_mask(state, mods, 0, lock, 0, 0, m_group);
        for (xkb_keycode_t code = lo; code <= hi; ++code) {
            const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
            if (sym == XKB_KEY_NoSymbol) continue;
            const LayoutKey key{code, withShift, withLevel3};
            m_table->bySym.emplace(sym, key);
            if (const uint32_t ch = xkb_keysym_to_utf32(sym)) m_table->byChar.emplace(ch, key);
        }
    }
    xkb_state_unref(state);
}

} // namespace kq
