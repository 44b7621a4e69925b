// The portal backend's pure parts: shortcut ids per key, the keys to bind, the hotkey queue, and
// which key of the user's layout types what.
#include "engine/keytable.h"
#include "platform/hotkeyqueue.h"
#include "platform/portal/layoutkeys.h"
#include "platform/portal/shortcutplan.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon.h>

namespace kq {
namespace {

TEST(PortalShortcuts, EachKeyHasAStableIdThatMapsBack) {
    const struct {
        uint32_t vk;
        const char* id;
        const char* trigger;
    } cases[] = {{VkTab, "tab", "Tab"},
                 {VkCapsLock, "caps-lock", "Caps_Lock"},
                 {VkF1, "f1", "F1"},
                 {VkF1 + 9, "f10", "F10"},
                 {VkF12, "f12", "F12"}};
    for (const auto& c : cases) {
        const auto s = PortalShortcutFor(c.vk);
        ASSERT_TRUE(s) << c.id;
        EXPECT_EQ(s->id, c.id);
        EXPECT_EQ(s->trigger, c.trigger);
        EXPECT_EQ(PortalShortcutVk(c.id), c.vk);
    }
    EXPECT_FALSE(PortalShortcutFor(65));
    for (const char* notOurs : {"", "f", "f0", "f13", "f01", "fx", "tab2", "F1"})
        EXPECT_EQ(PortalShortcutVk(notOurs), 0u) << notOurs;
}

TEST(PortalShortcuts, CapsLockAloneBindsNothingSoEnablingAgainAsksNoOne) {
    using V = std::vector<uint32_t>;
    EXPECT_EQ(PortalKeysToBind({VkCapsLock}), V{});
    EXPECT_EQ(PortalKeysToBind({VkTab, VkCapsLock}), (V{VkTab, VkCapsLock}));
    EXPECT_EQ(PortalKeysToBind({VkCapsLock, VkF1}), (V{VkCapsLock, VkF1}));
    EXPECT_EQ(PortalKeysToBind({65, VkTab}), V{VkTab});
}

// A press queued while an action runs waits for it; a release without its press, or of a key no
// longer bound, does nothing.
TEST(HotkeyQueue, ActsInOrderNeverInsideAnActionAndDropsOrphanReleases) {
    HotkeyQueue queue;
    std::vector<std::pair<uint32_t, uint32_t>> seen; // vk, message
    KeyFilter::Callbacks cb;
    cb.decide = [&](const HookEvent& e) {
        seen.emplace_back(e.vk, e.message);
        return HookDecision{};
    };
    cb.act = [&](const HookDecision&) {
        if (seen.size() == 1) { // the first press's action yields, and another key arrives
            queue.push(VkF1, false);
            queue.run(cb);
            EXPECT_EQ(seen.size(), 1u) << "acted inside an action";
        }
    };
    queue.push(VkTab, false);
    queue.run(cb);
    queue.push(VkTab, true);
    queue.push(VkCapsLock, true); // never pressed
    queue.keepOnly({VkTab});      // F1 is no longer bound: its release will not come
    queue.push(VkF1, true);
    queue.run(cb);
    const std::vector<std::pair<uint32_t, uint32_t>> want{
        {VkTab, MsgKeyDown}, {VkF1, MsgKeyDown}, {VkTab, MsgKeyUp}};
    EXPECT_EQ(seen, want);
}

TEST(LayoutKeys, EachCharacterFindsItsKeyAndLevelInTheLayout) {
    const struct Typed {
        const char* layout;
        char32_t ch;
        bool caps;
        uint32_t keycode;
        bool shift, level3;
    } cases[] = {
        {"us", U'a', false, 38, false, false}, {"us", U'A', false, 38, true, false},
        {"us", U'A', true, 38, false, false},  {"us", U'a', true, 38, true, false}, // Caps Lock on
        {"us", U'!', false, 10, true, false},  {"us", U'\t', false, 23, false, false},
        {"de", U'z', false, 29, false, false}, {"de", U'y', false, 52, false, false},
        {"de", U'@', false, 24, false, true},  {"de", U'µ', false, 58, false, true},
        {"de", U'ß', false, 20, false, false}, {"de", U'{', false, 16, false, true},
    };
    for (const Typed& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.layout << " U+" << std::hex << uint32_t(c.ch) << " caps " << c.caps);
        LayoutKeys keys;
        ASSERT_TRUE(keys.loadNames(c.layout));
        keys.setState(0, c.caps);
        const auto k = keys.forChar(c.ch);
        ASSERT_TRUE(k);
        EXPECT_EQ(k->keycode, c.keycode);
        EXPECT_EQ(k->shift, c.shift);
        EXPECT_EQ(k->level3, c.level3);
    }
}

// With several layouts, a character is found in the group in use first, else in the first group
// that has it; digits are in every group of us+ru, Latin and Cyrillic letters in one each.
TEST(LayoutKeys, SeveralLayoutsEachCharacterFindsAGroupThatHasIt) {
    LayoutKeys keys;
    ASSERT_TRUE(keys.loadNames("us,ru"));
    ASSERT_EQ(keys.groups(), 2u);
    const struct {
        uint32_t inUse;
        char32_t ch;
        std::optional<uint32_t> group;
        bool everywhere;
    } cases[] = {
        {0, U'a', 0, false},
        {1, U'a', 0, false},
        {0, U'ж', 1, false},
        {1, U'ж', 1, false},
        {0, U'1', 0, true},
        {1, U'1', 1, true},
        {1, U'é', std::nullopt, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "group " << c.inUse << " U+" << std::hex << uint32_t(c.ch));
        keys.setState(c.inUse, false);
        EXPECT_EQ(keys.groupWithChar(c.ch), c.group);
        EXPECT_EQ(keys.inEveryGroup(c.ch), c.everywhere);
        EXPECT_EQ(keys.forChar(c.ch).has_value(), c.group == c.inUse);
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
    for (char32_t ch : {U'é', U'ß', U'日', U'😀'})
        EXPECT_FALSE(us.forChar(ch)) << std::hex << uint32_t(ch);
    EXPECT_EQ(us.shiftKeycode(), 50u);
    EXPECT_EQ(us.controlKeycode(), 37u);
    EXPECT_EQ(us.altKeycode(), 64u);
    EXPECT_TRUE(us.forKeysym(XKB_KEY_Left));
    LayoutKeys de;
    ASSERT_TRUE(de.loadNames("de"));
    EXPECT_NE(de.level3Keycode(), 0u);
    EXPECT_TRUE(de.forChar(U'€')) << "on AltGr+E or a key of its own";
    EXPECT_FALSE(de.load("not a keymap"));
    EXPECT_TRUE(de.forChar(U'ß')) << "a failed load keeps the keymap there was";
}

} // namespace
} // namespace kq
