// Which spare keycode a missing character gets: never one that a slow client may still look up.
#include "platform/sparepool.h"

#include <gtest/gtest.h>

namespace kq {
namespace {

using namespace std::chrono_literals;
using Clock = SparePool::Clock;

const Clock::time_point t0{};

TEST(SparePool, GivesFreeSlotsFirstThenOnlyExpiredOnesLeastRecentlyUsedFirst) {
    SparePool pool(5s);
    pool.setKeycodes({93, 97});
    // Four slots: two keycodes, plain and shifted.
    for (uint32_t sym : {1u, 2u, 3u, 4u})
        ASSERT_TRUE(pool.assign(sym, t0 + std::chrono::seconds(sym)));
    EXPECT_EQ(pool.find(1), (SparePool::Slot{93, 0}));
    EXPECT_EQ(pool.find(2), (SparePool::Slot{93, 1}));
    EXPECT_EQ(pool.find(4), (SparePool::Slot{97, 1}));
    // Full, every slot within its grace: nothing is taken away.
    EXPECT_FALSE(pool.assign(5, t0 + 5s));
    EXPECT_EQ(pool.nextAvailable(t0 + 5s), t0 + 6s) << "sym 1, used at 1 s, is free at 6 s";
    // Typing sym 1 again protects it; sym 2 is now the oldest.
    pool.touch(1, t0 + 6s);
    EXPECT_EQ(pool.nextAvailable(t0 + 6s), t0 + 7s);
    EXPECT_EQ(pool.assign(5, t0 + 7s), (SparePool::Slot{93, 1}));
    EXPECT_FALSE(pool.find(2)) << "the character that gave up its slot is no longer bound";
    EXPECT_EQ(pool.contents(93), (std::vector<uint32_t>{1, 5}));
}

TEST(SparePool, KeycodesThatLeaveTheKeymapTakeTheirBindingsWithThem) {
    SparePool pool(5s);
    EXPECT_FALSE(pool.assign(7, t0)) << "no keycodes yet: no place for anything";
    pool.setKeycodes({10, 20});
    for (uint32_t sym : {7u, 8u, 9u})
        pool.assign(sym, t0);
    EXPECT_TRUE(pool.holdsAnything(10) && pool.holdsAnything(20));
    pool.setKeycodes({20, 30}); // 10 was given a meaning by a new layout
    EXPECT_FALSE(pool.find(7));
    EXPECT_EQ(pool.find(9), (SparePool::Slot{20, 0})) << "bindings on kept keycodes stay";
    EXPECT_EQ(pool.capacity(), 4u);
    pool.forget(20);
    EXPECT_TRUE(pool.empty());
    pool.assign(1, t0 + 1s);
    EXPECT_EQ(pool.lastUse(), t0 + 1s);
    pool.forgetAll();
    EXPECT_TRUE(pool.empty());
    EXPECT_FALSE(pool.lastUse());
}

// A reader that cannot use high keycodes (Wine) gets low ones only: a character bound high is bound
// again below, the high slot keeping its grace; with every low slot in its grace, it waits for one.
TEST(SparePool, BelowALimitOnlyLowKeycodesAreGivenAndWaitedFor) {
    SparePool pool(5s);
    pool.setKeycodes({93, 200});
    ASSERT_TRUE(pool.assign(1, t0) && pool.assign(2, t0) && pool.assign(3, t0));
    EXPECT_EQ(pool.find(3), (SparePool::Slot{200, 0}));
    EXPECT_FALSE(pool.find(3, 150));
    EXPECT_FALSE(pool.assign(3, t0 + 1s, 150)) << "both low slots are within their grace";
    EXPECT_EQ(pool.nextAvailable(t0 + 1s, 150), t0 + 5s) << "the free high slot does not count";
    EXPECT_EQ(pool.assign(3, t0 + 5s, 150), (SparePool::Slot{93, 0}));
    EXPECT_EQ(pool.find(3), (SparePool::Slot{93, 0})) << "the low slot serves every reader now";
    EXPECT_EQ(pool.contents(200), (std::vector<uint32_t>{3, 0})) << "the high slot keeps its grace";
    EXPECT_EQ(pool.emptyKeycode(), 0) << "every keycode holds something";
}

} // namespace
} // namespace kq
