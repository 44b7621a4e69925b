#include "platform/wayland/layoutkeys.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <unordered_map>
#include <vector>

namespace kq {

namespace {

struct Table {
    std::unordered_map<uint32_t, LayoutKey> bySym;
    std::unordered_map<uint32_t, LayoutKey> byChar;
};

} // namespace

struct LayoutKeys::Tables {
    std::vector<Table> groups;
};

LayoutKeys::LayoutKeys() : m_context(xkb_context_new(XKB_CONTEXT_NO_FLAGS)), m_tables(new Tables) {}

LayoutKeys::~LayoutKeys() {
    delete m_tables;
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
    m_group = group;
    if (capsLocked == m_caps) return;
    m_caps = capsLocked;
    rebuild();
}

std::optional<LayoutKey> LayoutKeys::forKeysym(uint32_t keysym) const {
    return find(false, keysym, m_group);
}

std::optional<LayoutKey> LayoutKeys::forChar(char32_t ch) const {
    return find(true, static_cast<uint32_t>(ch), m_group);
}

uint32_t LayoutKeys::groups() const {
    return static_cast<uint32_t>(m_tables->groups.size());
}

std::optional<uint32_t> LayoutKeys::groupWithKeysym(uint32_t keysym) const {
    return groupWith(false, keysym);
}

std::optional<uint32_t> LayoutKeys::groupWithChar(char32_t ch) const {
    return groupWith(true, static_cast<uint32_t>(ch));
}

bool LayoutKeys::inEveryGroup(char32_t ch) const {
    for (uint32_t g = 0; g < groups(); ++g)
        if (!find(true, static_cast<uint32_t>(ch), g)) return false;
    return groups() > 0;
}

std::optional<uint32_t> LayoutKeys::groupWith(bool byChar, uint32_t value) const {
    if (find(byChar, value, m_group)) return m_group;
    for (uint32_t g = 0; g < groups(); ++g)
        if (find(byChar, value, g)) return g;
    return std::nullopt;
}

std::optional<LayoutKey> LayoutKeys::find(bool byChar, uint32_t value, uint32_t group) const {
    if (group >= groups()) return std::nullopt;
    const Table& table = m_tables->groups[group];
    const auto& map = byChar ? table.byChar : table.bySym;
    const auto it = map.find(value);
    if (it == map.end()) return std::nullopt;
    return it->second;
}

// Every key under no modifier, Shift, AltGr and both, in each group and the lock state; the first
// (fewest modifiers, lowest keycode) to give a keysym keeps it.
void LayoutKeys::rebuild() {
    m_tables->groups.clear();
    m_shift = m_control = m_alt = m_level3 = 0;
    if (!m_keymap) return;
    xkb_state* state = xkb_state_new(m_keymap);
    const auto bit = [&](const char* name) {
        const xkb_mod_index_t i = xkb_keymap_mod_get_index(m_keymap, name);
        return i == XKB_MOD_INVALID ? 0u : 1u << i;
    };
    const uint32_t shift = bit(XKB_MOD_NAME_SHIFT), lock = m_caps ? bit(XKB_MOD_NAME_CAPS) : 0;
    const uint32_t level3 = bit("Mod5");
    // Quirk: X clients (under XWayland) get key codes up to 255 only, and evdev layouts put
    // some characters on keys beyond (the euro sign on 443 in every layout): a key there would
    // type nothing into an X window, so those characters count as missing.
    const xkb_keycode_t lo = xkb_keymap_min_keycode(m_keymap);
    const xkb_keycode_t hi = std::min<xkb_keycode_t>(xkb_keymap_max_keycode(m_keymap), 255);
    m_tables->groups.resize(xkb_keymap_num_layouts(m_keymap));
    // The modifier keys: AltGr may be a key of one layout only (us has none, de has one).
    for (uint32_t group = 0; group < groups(); ++group) {
        xkb_state_update_mask(state, 0, 0, 0, 0, 0, group);
        for (xkb_keycode_t code = lo; code <= hi; ++code) {
            const xkb_keysym_t plain = xkb_state_key_get_one_sym(state, code);
            uint32_t* slot = plain == XKB_KEY_Shift_L            ? &m_shift
                             : plain == XKB_KEY_Control_L        ? &m_control
                             : plain == XKB_KEY_Alt_L            ? &m_alt
                             : plain == XKB_KEY_ISO_Level3_Shift ? &m_level3
                                                                 : nullptr;
            if (slot && !*slot) *slot = code;
        }
    }
    for (uint32_t group = 0; group < groups(); ++group) {
        Table& table = m_tables->groups[group];
        for (int combo = 0; combo < 4; ++combo) {
            const bool withShift = combo & 1, withLevel3 = combo & 2;
            if ((withShift && !shift) || (withLevel3 && (!level3 || !m_level3))) continue;
            const uint32_t mods = (withShift ? shift : 0) | (withLevel3 ? level3 : 0);
            xkb_state_update_mask(state, mods, 0, lock, 0, 0, group);
            for (xkb_keycode_t code = lo; code <= hi; ++code) {
                const xkb_keysym_t sym = xkb_state_key_get_one_sym(state, code);
                if (sym == XKB_KEY_NoSymbol) continue;
                const LayoutKey key{code, withShift, withLevel3};
                table.bySym.emplace(sym, key);
                if (const uint32_t ch = xkb_keysym_to_utf32(sym)) table.byChar.emplace(ch, key);
            }
        }
    }
    xkb_state_unref(state);
}

} // namespace kq
