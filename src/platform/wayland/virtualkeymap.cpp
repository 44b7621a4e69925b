#include "platform/wayland/virtualkeymap.h"

#include "engine/hotkey.h"
#include "platform/sway/swaybindings.h"

#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdio>
#include <set>

namespace kq {
namespace {

constexpr uint32_t kFirstCode = 9;  // 8 is evdev's KEY_RESERVED
constexpr uint32_t kLastCode = 255; // XWayland clients see keycodes up to 255 only

// Quirk: sway's hotkey bindings match keycodes, from any keyboard. Our own keys stay off the
// keycodes of the keys Keyquill binds, so a line that types {TAB} or {F1} is not swallowed.
std::set<uint32_t> boundKeycodes() {
    std::set<uint32_t> codes;
    for (Hotkey key : AllHotkeys)
        codes.insert(SwayKeycodeFor(key));
    return codes;
}

std::string keysymName(uint32_t keysym) {
    char name[64];
    if (xkb_keysym_get_name(keysym, name, sizeof name) > 0) return name;
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08x", keysym);
    return hex;
}

} // namespace

VirtualKeymap::VirtualKeymap() {
    const auto bound = boundKeycodes();
    for (uint32_t code = kFirstCode; code <= kLastCode; ++code)
        if (!bound.count(code)) m_free.push_back(code);
    for (uint32_t& code : m_modifierCodes) {
        code = m_free.front();
        m_free.erase(m_free.begin());
    }
}

size_t VirtualKeymap::capacity() {
    return (kLastCode - kFirstCode + 1) - boundKeycodes().size() - 3;
}

bool VirtualKeymap::place(const std::vector<uint32_t>& keysyms) {
    const std::set<uint32_t> wanted(keysyms.begin(), keysyms.end());
    // Least recently used first: the keysyms of this line move to the end.
    std::stable_partition(m_order.begin(), m_order.end(), [&wanted](uint32_t s) { return !wanted.count(s); });
    size_t missing = 0;
    for (uint32_t s : wanted)
        missing += m_placed.count(s) ? 0 : 1;
    // Free the least recently used keys the line does not use until its new keysyms fit.
    for (auto it = m_order.begin(); it != m_order.end() && m_free.size() < missing && !wanted.count(*it);) {
        m_free.push_back(m_placed.at(*it));
        m_placed.erase(*it);
        it = m_order.erase(it);
    }
    std::sort(m_free.begin(), m_free.end());
    bool changed = false;
    for (uint32_t s : keysyms) {
        if (m_placed.count(s) || m_free.empty()) continue;
        m_placed[s] = m_free.front();
        m_free.erase(m_free.begin());
        m_order.push_back(s);
        changed = true;
    }
    return changed;
}

uint32_t VirtualKeymap::keycodeOf(uint32_t keysym) const {
    const auto it = m_placed.find(keysym);
    return it == m_placed.end() ? 0 : it->second;
}

std::string VirtualKeymap::text() const {
    std::string codes, symbols;
    const auto key = [&](uint32_t code, const std::string& sym) {
        codes += "  <K" + std::to_string(code) + "> = " + std::to_string(code) + ";\n";
        symbols += "  key <K" + std::to_string(code) + "> { [ " + sym + " ] };\n";
    };
    key(m_modifierCodes[0], "Shift_L");
    key(m_modifierCodes[1], "Control_L");
    key(m_modifierCodes[2], "Alt_L");
    std::vector<std::pair<uint32_t, uint32_t>> byCode;
    for (const auto& [sym, code] : m_placed)
        byCode.emplace_back(code, sym);
    std::sort(byCode.begin(), byCode.end());
    for (const auto& [code, sym] : byCode)
        key(code, keysymName(sym));
    auto mod = [this](int i) { return "<K" + std::to_string(m_modifierCodes[i]) + ">"; };
    return "xkb_keymap {\n"
           "xkb_keycodes \"keyquill\" {\n  minimum = 8;\n  maximum = 255;\n" +
           codes +
           "};\n"
           "xkb_types \"keyquill\" { include \"complete\" };\n"
           "xkb_compatibility \"keyquill\" { include \"complete\" };\n"
           "xkb_symbols \"keyquill\" {\n" +
           symbols + "  modifier_map Shift { " + mod(0) + " };\n  modifier_map Control { " + mod(1) +
           " };\n  modifier_map Mod1 { " + mod(2) + " };\n};\n};\n";
}

} // namespace kq
