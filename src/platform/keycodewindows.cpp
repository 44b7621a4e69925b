#include "platform/keycodewindows.h"

#include "engine/utf8.h"

#include <xkbcommon/xkbcommon-compose.h>
#include <xkbcommon/xkbcommon.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <sstream>
#include <unordered_set>

namespace kq {
namespace {

// Window classes (WM_CLASS, either name) of programs known to send the key codes they receive.
constexpr std::string_view kBuiltIn[] = {
    "xephyr",
    "xnest",
    "qemu",
    "qemu-system-x86_64",
    "qemu-system-i386",
    "qemu-system-aarch64",
    "virt-viewer",
    "remote-viewer",
    "virt-manager",
    "virtualbox machine",
    "virtualboxvm",
    "vmware",
    "vmplayer",
    "xfreerdp",
    "wlfreerdp",
    "org.remmina.remmina",
    "remmina",
    "vncviewer",
    "tigervnc",
    "xtightvncviewer",
    "vinagre",
    "org.gnome.connections",
    "krdc",
    "x2goclient",
    "wfica",
};

std::string lower(std::string_view s) {
    std::string out(s);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

std::string trimmed(const std::string& s) {
    const size_t first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return s.substr(first, s.find_last_not_of(" \t\r") - first + 1);
}

struct ComposeTable {
    xkb_context* context = nullptr;
    xkb_compose_table* table = nullptr;
    ComposeTable() {
        context = xkb_context_new(XKB_CONTEXT_NO_FLAGS);
        if (!context) return;
        const char* locale = nullptr;
        for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"})
            if (const char* v = std::getenv(name); v && *v && !locale) locale = v;
        if (locale) table = xkb_compose_table_new_from_locale(context, locale, XKB_COMPOSE_COMPILE_NO_FLAGS);
        // The C locale has no table of its own; dead keys compose the same in every UTF-8 one.
        if (!table)
            table = xkb_compose_table_new_from_locale(context, "en_US.UTF-8", XKB_COMPOSE_COMPILE_NO_FLAGS);
    }
    ~ComposeTable() {
        xkb_compose_table_unref(table);
        xkb_context_unref(context);
    }
};

bool isDeadKeysym(uint32_t sym) {
    return sym >= XKB_KEY_dead_grave && sym <= XKB_KEY_dead_longsolidusoverlay;
}

} // namespace

KeyCodeWindows::KeyCodeWindows(std::string_view userList) {
    for (std::string_view name : kBuiltIn)
        m_classes.emplace_back(name);
    std::istringstream in{std::string(userList)};
    for (std::string line; std::getline(in, line);)
        if (const std::string name = trimmed(line); !name.empty() && name[0] != '#')
            m_classes.push_back(lower(name));
}

KeyCodeWindows KeyCodeWindows::load() {
    std::string folder;
    if (const char* config = std::getenv("XDG_CONFIG_HOME"); config && *config)
        folder = config;
    else if (const char* home = std::getenv("HOME"))
        folder = std::string(home) + "/.config";
    std::ifstream file(folder + "/keyquill/key-code-windows");
    std::ostringstream text;
    text << file.rdbuf();
    return KeyCodeWindows(text.str());
}

bool KeyCodeWindows::matches(std::string_view instance, std::string_view windowClass) const {
    const std::string a = lower(instance), b = lower(windowClass);
    return std::any_of(m_classes.begin(), m_classes.end(),
                       [&](const std::string& c) { return !c.empty() && (c == a || c == b); });
}

bool KeyCodeWindows::translatesLate(std::string_view instance, std::string_view windowClass) {
    const auto exe = [](std::string_view name) {
        return name.size() > 4 && lower(name.substr(name.size() - 4)) == ".exe";
    };
    return exe(instance) || exe(windowClass);
}

DeadKeyCompositions::DeadKeyCompositions(const std::vector<uint32_t>& layoutKeysyms) {
    static const ComposeTable compose; // the locale's table is read once
    if (!compose.table) return;
    const std::unique_ptr<xkb_compose_state, decltype(&xkb_compose_state_unref)> state(
        xkb_compose_state_new(compose.table, XKB_COMPOSE_STATE_NO_FLAGS), &xkb_compose_state_unref);
    if (!state) return;
    std::unordered_set<char32_t> direct;
    for (uint32_t sym : layoutKeysyms)
        if (const uint32_t c = xkb_keysym_to_utf32(sym)) direct.insert(c);
    for (uint32_t dead : layoutKeysyms) {
        if (!isDeadKeysym(dead)) continue;
        for (uint32_t base : layoutKeysyms) {
            if (isDeadKeysym(base) || xkb_keysym_to_utf32(base) == 0) continue;
            xkb_compose_state_reset(state.get());
            xkb_compose_state_feed(state.get(), dead);
            xkb_compose_state_feed(state.get(), base);
            if (xkb_compose_state_get_status(state.get()) != XKB_COMPOSE_COMPOSED) continue;
            char utf8[16];
            xkb_compose_state_get_utf8(state.get(), utf8, sizeof utf8);
            const auto text = DecodeUtf8(utf8);
            if (!text || text->size() != 1 || direct.count((*text)[0])) continue;
            m_pairs.emplace((*text)[0], Pair{dead, base});
        }
    }
}

std::optional<DeadKeyCompositions::Pair> DeadKeyCompositions::find(char32_t c) const {
    const auto it = m_pairs.find(c);
    if (it == m_pairs.end()) return std::nullopt;
    return it->second;
}

} // namespace kq
