// Which windows forward key codes, and what a layout's dead keys give there.
#include "platform/keycodewindows.h"

#include <gtest/gtest.h>
#include <xkbcommon/xkbcommon-keysyms.h>

using namespace kq;

TEST(KeyCodeWindows, BuiltInAndUserClassesMatchInAnyCase) {
    const KeyCodeWindows windows("# my VM console\n\n  MyConsole \r\n");
    const struct {
        const char *instance, *windowClass;
        bool forwards;
    } cases[] = {
        {"Xephyr", "Xephyr", true},
        {"remote-viewer", "Remote-viewer", true},
        {"xfreerdp", "XFREERDP", true},
        {"myconsole", "Other", true},
        {"firefox-esr", "firefox-esr", false},
        {"# my VM console", "", false},
        {"", "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(windows.matches(c.instance, c.windowClass), c.forwards)
            << c.instance << " " << c.windowClass;
}

// A German layout has é only as dead acute then e, and ^ as dead circumflex then space; what a
// key gives directly is never composed.
TEST(DeadKeyCompositions, CharactersTheLayoutComposesFindTheirPair) {
    const DeadKeyCompositions dead({XKB_KEY_e, XKB_KEY_E, XKB_KEY_a, XKB_KEY_space, XKB_KEY_dead_acute,
                                    XKB_KEY_dead_circumflex, XKB_KEY_udiaeresis});
    const struct {
        char32_t c;
        uint32_t dead, base;
    } found[] = {{U'é', XKB_KEY_dead_acute, XKB_KEY_e},
                 {U'É', XKB_KEY_dead_acute, XKB_KEY_E},
                 {U'â', XKB_KEY_dead_circumflex, XKB_KEY_a},
                 {U'^', XKB_KEY_dead_circumflex, XKB_KEY_space}};
    for (const auto& f : found) {
        const auto pair = dead.find(f.c);
        ASSERT_TRUE(pair) << uint32_t(f.c);
        EXPECT_EQ(pair->dead, f.dead);
        EXPECT_EQ(pair->base, f.base);
    }
    for (char32_t c : {U'e', U'ü', U'ß', U'✓'})
        EXPECT_FALSE(dead.find(c)) << uint32_t(c);
}
