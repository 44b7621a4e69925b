// The portal backend's pure parts: the trigger asked for each key, the hotkey queue, and which
// key of the user's layout types what.
#include "engine/hotkey.h"
#include "platform/hotkeyqueue.h"
#include "platform/portal/shortcutplan.h"
#include "platform/wayland/layoutkeys.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

#include <optional>
#include <tuple>
#include <utility>
#include <vector>

namespace kq {
namespace {

// The desktop binds the key the trigger names (KDE); the ids are checked on the mock portal's bus.
TEST(PortalShortcuts, EachKeyIsAskedForWithItsTrigger) {
    const std::pair<Hotkey, const char*> cases[] = {
        {Hotkey::Tab, "Tab"}, {Hotkey::CapsLock, "Caps_Lock"}, {Hotkey::F1, "F1"}, {Hotkey::F10, "F10"}};
    for (const auto& [key, trigger] : cases)
        EXPECT_EQ(PortalShortcutFor(key).trigger, trigger);
}

// A press queued while an action runs waits for it; a release without its press, or of a key no
// longer bound, does nothing.
TEST(HotkeyQueue, ActsInOrderNeverInsideAnActionAndDropsOrphanReleases) {
    HotkeyQueue queue;
    std::vector<std::pair<Hotkey, bool>> seen; // key, release
    KeyFilter::Callbacks cb;
    cb.decide = [&](const KeyEvent& e) {
        seen.emplace_back(e.key, e.release);
        return HotkeyDecision{};
    };
    cb.act = [&](const HotkeyDecision&) {
        if (seen.size() == 1) { // the first press's action yields, and another key arrives
            queue.push(Hotkey::F1, false);
            queue.run(cb);
            EXPECT_EQ(seen.size(), 1u) << "acted inside an action";
        }
    };
    queue.push(Hotkey::Tab, false);
    queue.run(cb);
    queue.push(Hotkey::Tab, true);
    queue.push(Hotkey::CapsLock, true); // never pressed
    queue.keepOnly({Hotkey::Tab});      // F1 is no longer bound: its release will not come
    queue.push(Hotkey::F1, true);
    queue.run(cb);
    const std::vector<std::pair<Hotkey, bool>> want{
        {Hotkey::Tab, false}, {Hotkey::F1, false}, {Hotkey::Tab, true}};
    EXPECT_EQ(seen, want);
}

TEST(LayoutKeys, EachCharacterFindsItsKeyAndLevelInTheLayout) {
    // Layout, character and Caps Lock; then the key that types it and whether Shift and AltGr go with it.
    const std::tuple<const char*, char32_t, bool, uint32_t, bool, bool> cases[] = {
        {"us", U'a', false, 38, false, false}, {"us", U'A', false, 38, true, false},
        {"us", U'A', true, 38, false, false},  {"us", U'a', true, 38, true, false}, // Caps Lock on
        {"us", U'!', false, 10, true, false},  {"us", U'\t', false, 23, false, false},
        {"de", U'z', false, 29, false, false}, {"de", U'y', false, 52, false, false},
        {"de", U'@', false, 24, false, true},  {"de", U'µ', false, 58, false, true},
        {"de", U'ß', false, 20, false, false}, {"de", U'{', false, 16, false, true},
    };
    for (const auto& [layout, ch, caps, keycode, shift, level3] : cases) {
        SCOPED_TRACE(testing::Message() << layout << " U+" << std::hex << uint32_t(ch) << " caps " << caps);
        LayoutKeys keys;
        ASSERT_TRUE(keys.loadNames(layout));
        keys.setState(0, caps);
        const auto k = keys.forChar(ch);
        ASSERT_TRUE(k);
        EXPECT_EQ(k->keycode, keycode);
        EXPECT_EQ(k->shift, shift);
        EXPECT_EQ(k->level3, level3);
    }
}

// With several layouts, a character is found in the group in use first, else in the first group
// that has it; digits are in every group of us+ru, Latin and Cyrillic letters in one each.
TEST(LayoutKeys, SeveralLayoutsEachCharacterFindsAGroupThatHasIt) {
    LayoutKeys keys;
    ASSERT_TRUE(keys.loadNames("us,ru"));
    ASSERT_EQ(keys.groups(), 2u);
    // The group in use and a character, then the group found for it and whether every group has it.
    const std::tuple<uint32_t, char32_t, std::optional<uint32_t>, bool> cases[] = {
        {0, U'a', 0, false},
        {1, U'a', 0, false},
        {0, U'ж', 1, false},
        {1, U'ж', 1, false},
        {0, U'1', 0, true},
        {1, U'1', 1, true},
        {1, U'é', std::nullopt, false},
    };
    for (const auto& [inUse, ch, group, everywhere] : cases) {
        SCOPED_TRACE(testing::Message() << "group " << inUse << " U+" << std::hex << uint32_t(ch));
        keys.setState(inUse, false);
        EXPECT_EQ(keys.groupWithChar(ch), group);
        EXPECT_EQ(keys.inEveryGroup(ch), everywhere);
        EXPECT_EQ(keys.forChar(ch).has_value(), group == inUse);
    }
    keys.setState(1, false);
    EXPECT_EQ(keys.forChar(U'ж')->keycode, 47u) << "the key of ; in us";
    LayoutKeys usDe;
    ASSERT_TRUE(usDe.loadNames("us,de"));
    usDe.setState(1, false);
    EXPECT_TRUE(usDe.forChar(U'@')->level3) << "AltGr of the German layout, though us has none";
    EXPECT_NE(usDe.level3Keycode(), 0u);
}

TEST(LayoutKeys, WhatTheLayoutLacksIsNotFoundAndModifierKeysAreKnown) {
    LayoutKeys us;
    ASSERT_TRUE(us.loadNames("us"));
    // The euro sign is there too, on a key above 255, which no X client can get.
    for (char32_t ch : {U'é', U'ß', U'日', U'😀', U'€'})
        EXPECT_FALSE(us.forChar(ch)) << std::hex << uint32_t(ch);
    EXPECT_EQ(us.shiftKeycode(), 50u);
    EXPECT_EQ(us.controlKeycode(), 37u);
    EXPECT_EQ(us.altKeycode(), 64u);
    EXPECT_TRUE(us.forKeysym(XKB_KEY_Left));
    LayoutKeys de;
    ASSERT_TRUE(de.loadNames("de"));
    EXPECT_NE(de.level3Keycode(), 0u);
    EXPECT_EQ(de.forChar(U'€')->keycode, 26u) << "AltGr+E";
    EXPECT_FALSE(de.load("not a keymap"));
    EXPECT_TRUE(de.forChar(U'ß')) << "a failed load keeps the keymap there was";
}

} // namespace
} // namespace kq
