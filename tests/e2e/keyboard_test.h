#pragma once
// The fixture of the tests that drive the engine and the real X11 keyboard (keyboard_world.h).
// Quirk: gtest must come before the X11 headers, whose macros (None, Bool...) break it.
#include <gtest/gtest.h>

#include "keyboard_world.h"

#include <cstdlib>
#include <string>
#include <vector>

namespace kq::e2e {

inline void setLayout(const std::string& layout) {
    ASSERT_EQ(system(("setxkbmap -display " + XvfbDisplay() + " " + layout).c_str()), 0);
}

// A test of the engine and the real X11 keyboard against a recording target: no key may be left
// down and no message left unread at the end.
class KeyboardWorldTest : public ::testing::Test {
protected:
    void start(SpareTimings timings, const std::vector<std::string>& target = {}) {
        std::string error;
        ASSERT_TRUE(world.start(&error, timings, target)) << error;
        world.state.MacroEnabled = true;
    }
    void TearDown() override {
        world.pump(100);
        EXPECT_TRUE(world.keysDown().empty()) << "a key was left down";
        EXPECT_TRUE(world.messages.empty()) << world.messages.front();
    }
    KeyboardWorld world;
};

} // namespace kq::e2e
