// Which windows forward key codes, and what a layout's dead keys give there.
#include "platform/keycodewindows.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

#include <tuple>

using namespace kq;

TEST(KeyCodeWindows, BuiltInAndUserClassesMatchInAnyCase) {
    const KeyCodeWindows windows("# my VM console\n\n  MyConsole \r\n");
    // Instance and class names, and whether such a window forwards key codes.
    const std::tuple<const char*, const char*, bool> cases[] = {
        {"Xephyr", "Xephyr", true},
        {"remote-viewer", "Remote-viewer", true},
        {"xfreerdp", "XFREERDP", true},
        {"myconsole", "Other", true},
        {"firefox-esr", "firefox-esr", false},
        {"# my VM console", "", false},
        {"", "", false},
    };
    for (const auto& [instance, windowClass, forwards] : cases)
        EXPECT_EQ(windows.matches(instance, windowClass), forwards) << instance << " " << windowClass;
}

// A German layout has é only as dead acute then e, and ^ as dead circumflex then space; what a
// key gives directly is never composed.
TEST(DeadKeyCompositions, CharactersTheLayoutComposesFindTheirPair) {
    const DeadKeyCompositions dead({XKB_KEY_e, XKB_KEY_E, XKB_KEY_a, XKB_KEY_space, XKB_KEY_dead_acute,
                                    XKB_KEY_dead_circumflex, XKB_KEY_udiaeresis});
    // A character, then the dead key and the key that compose it.
    const std::tuple<char32_t, uint32_t, uint32_t> found[] = {{U'é', XKB_KEY_dead_acute, XKB_KEY_e},
                                                              {U'É', XKB_KEY_dead_acute, XKB_KEY_E},
                                                              {U'â', XKB_KEY_dead_circumflex, XKB_KEY_a},
                                                              {U'^', XKB_KEY_dead_circumflex, XKB_KEY_space}};
    for (const auto& [c, deadKey, base] : found) {
        const auto pair = dead.find(c);
        ASSERT_TRUE(pair) << uint32_t(c);
        EXPECT_EQ(pair->dead, deadKey);
        EXPECT_EQ(pair->base, base);
    }
    for (char32_t c : {U'e', U'ü', U'ß', U'✓'})
        EXPECT_FALSE(dead.find(c)) << uint32_t(c);
}
