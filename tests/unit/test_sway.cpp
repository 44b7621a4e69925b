// The sway backend's pure parts: the binding commands, the binding events, the virtual keymap.
#include "engine/hotkey.h"
#include "platform/sway/swaybindings.h"
#include "platform/wayland/virtualkeymap.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>

namespace kq {
namespace {

size_t count(const std::string& text, const std::string& needle) {
    size_t n = 0;
    for (size_t at = text.find(needle); at != std::string::npos; at = text.find(needle, at + 1))
        ++n;
    return n;
}

TEST(SwayBindings, EveryModifierSetOfEveryBindableKeyIsBoundAndUnboundAlike) {
    const std::string bind = SwayBindingCommands({Hotkey::Tab, Hotkey::F12}, "kq", true);
    EXPECT_EQ(count(bind, "bindcode "), 2u * 16 * 2);
    EXPECT_EQ(count(bind, " nop kq press "), 2u * 16);
    EXPECT_NE(bind.find("bindcode --no-warn --no-repeat 23 nop kq press tab"), std::string::npos);
    EXPECT_NE(bind.find("bindcode --no-warn --release Shift+Ctrl+Lock+Mod2+96 nop kq release f12"),
              std::string::npos);
    const std::string unbind = SwayBindingCommands({Hotkey::Tab, Hotkey::F12}, "kq", false);
    EXPECT_EQ(count(unbind, "unbindcode "), 2u * 16 * 2);
    EXPECT_EQ(unbind.find("nop"), std::string::npos);
    EXPECT_NE(unbind.find("unbindcode --release Shift+Ctrl+Lock+Mod2+96"), std::string::npos);
    EXPECT_EQ(SwayBindingCommands({}, "kq", true), "");
}

TEST(SwayBindings, OnlyOurOwnBindingEventsAreHotkeys) {
    const auto event = [](const std::string& command) {
        return R"({ "change": "run", "binding": { "command": ")" + command + R"(", "symbol": null } })";
    };
    // The hotkey each event reports; none for an event that is not one of ours.
    const std::pair<std::string, std::optional<SwayHotkey>> cases[] = {
        {event("nop kq press tab"), SwayHotkey{Hotkey::Tab, false}},
        {event("nop kq release f12"), SwayHotkey{Hotkey::F12, true}},
        {event("nop kq press caps-lock"), SwayHotkey{Hotkey::CapsLock, false}},
        {event("nop other press tab"), std::nullopt},
        {event("nop kq press a"), std::nullopt}, // not a key we bind
        {event("nop kq press tabx"), std::nullopt},
        {event("nop kq hold tab"), std::nullopt},
        {event("exec kq press tab"), std::nullopt},
        {R"({ "change": "reload" })", std::nullopt},
    };
    for (const auto& [json, want] : cases) {
        const auto key = ParseSwayBindingEvent(json, "kq");
        ASSERT_EQ(key.has_value(), want.has_value()) << json;
        if (!key) continue;
        EXPECT_EQ(key->key, want->key) << json;
        EXPECT_EQ(key->release, want->release) << json;
    }
}

TEST(SwayBindings, JsonStringsAndCommandRepliesAreRead) {
    EXPECT_EQ(JsonStringField(R"({"a": 1, "command" :  "say \"hi\" \\ \u00e9\n"})", "command"),
              "say \"hi\" \\ \xc3\xa9\n");
    for (const char* json : {R"({"command": 5})", R"({"command": "open)", R"({"change": "x"})"})
        EXPECT_EQ(JsonStringField(json, "command"), std::nullopt) << json;
    EXPECT_TRUE(SwayCommandSucceeded(R"([ { "success": true }, {"success":true} ])"));
    EXPECT_FALSE(SwayCommandSucceeded(R"([ { "success": true }, { "success": false, "error": "x" } ])"));
    EXPECT_FALSE(SwayCommandSucceeded("[ ]"));
    EXPECT_EQ(SwayOpacityCommand(42, "Keyquill - Config (1)", 0.5),
              "[pid=42 title=\"^Keyquill - Config .1.$\"] opacity 0.500");
    EXPECT_EQ(SwayOpacityCommand(7, "a\"b", 2), "[pid=7 title=\"^a.b$\"] opacity 1.000");
}

struct Compiled {
    std::unique_ptr<xkb_context, decltype(&xkb_context_unref)> ctx{xkb_context_new(XKB_CONTEXT_NO_FLAGS),
                                                                   xkb_context_unref};
    std::unique_ptr<xkb_keymap, decltype(&xkb_keymap_unref)> map{nullptr, xkb_keymap_unref};
    explicit Compiled(const std::string& text) {
        map.reset(xkb_keymap_new_from_string(ctx.get(), text.c_str(), XKB_KEYMAP_FORMAT_TEXT_V1,
                                             XKB_KEYMAP_COMPILE_NO_FLAGS));
    }
    uint32_t symAt(uint32_t code) const {
        const xkb_keysym_t* syms = nullptr;
        return xkb_keymap_key_get_syms_by_level(map.get(), code, 0, 0, &syms) == 1 ? syms[0] : 0;
    }
};

// What clients compile is what the typer presses: every keysym on a key of its own at the first
// level, the modifiers on theirs, and nothing on a keycode that sway binds for the hotkeys.
TEST(VirtualKeymap, EveryKeysymTypesFromItsOwnKeyOffTheBoundKeycodes) {
    VirtualKeymap keymap;
    std::vector<uint32_t> syms;
    for (char32_t c : std::u32string(U" !\"#$%&'()*+,-./09:;<=>?@AZ[\\]^_`az{|}~éß€→日😀\t"))
        syms.push_back(xkb_utf32_to_keysym(c));
    syms.insert(syms.end(), {XKB_KEY_Return, XKB_KEY_F1});
    keymap.place(syms);
    const Compiled c(keymap.text());
    ASSERT_TRUE(c.map) << keymap.text();
    std::set<uint32_t> codes;
    for (uint32_t s : syms) {
        const uint32_t code = keymap.keycodeOf(s);
        EXPECT_EQ(c.symAt(code), s) << std::hex << s;
        codes.insert(code);
    }
    EXPECT_EQ(codes.size(), syms.size());
    for (uint32_t bound : {23u, 66u, 67u, 76u, 95u, 96u})
        EXPECT_EQ(codes.count(bound), 0u) << bound;
    EXPECT_EQ(c.symAt(keymap.shiftKeycode()), uint32_t(XKB_KEY_Shift_L));
    EXPECT_EQ(c.symAt(keymap.controlKeycode()), uint32_t(XKB_KEY_Control_L));
    EXPECT_EQ(c.symAt(keymap.altKeycode()), uint32_t(XKB_KEY_Alt_L));
    EXPECT_EQ(keymap.keycodeOf(XKB_KEY_Escape), 0u);
}

// A client that reads a new keymap late still finds the keys of the lines before where they were:
// only the oldest keysyms that the new line does not use give up their keys, and only when full.
TEST(VirtualKeymap, KeysStayWhereTheyWereUntilRoomIsNeeded) {
    VirtualKeymap keymap;
    std::vector<uint32_t> first;
    for (uint32_t i = 0; i < VirtualKeymap::capacity(); ++i)
        first.push_back(0x1000100 + i);
    ASSERT_TRUE(keymap.place(first));
    for (uint32_t s : first)
        ASSERT_NE(keymap.keycodeOf(s), 0u);
    EXPECT_FALSE(keymap.place({first[5], first[0]})) << "nothing new: no keymap to upload";
    const uint32_t oldestCode = keymap.keycodeOf(first[1]); // first[0] was used again just now
    const uint32_t secondCode = keymap.keycodeOf(first[0]);
    const uint32_t keptCode = keymap.keycodeOf(first[2]);
    EXPECT_TRUE(keymap.place({first[2], 'x'}));
    EXPECT_EQ(keymap.keycodeOf(first[1]), 0u) << "the least recently used keysym gives its key up";
    EXPECT_EQ(keymap.keycodeOf('x'), oldestCode);
    EXPECT_EQ(keymap.keycodeOf(first[0]), secondCode);
    EXPECT_EQ(keymap.keycodeOf(first[2]), keptCode);
    keymap.place({first[0], 'y'});
    EXPECT_EQ(keymap.keycodeOf(first[3]), 0u) << "first[2] was used since, first[3] is the oldest";
    EXPECT_EQ(keymap.keycodeOf(first[2]), keptCode);
    EXPECT_EQ(keymap.keycodeOf(first[0]), secondCode);
    ASSERT_TRUE(Compiled(keymap.text()).map);
}

} // namespace
} // namespace kq
