#include "engine/keytable.h"

#include <gtest/gtest.h>

// The combo box items and the function-key rows both come from this table: a wrong code here
// binds the wrong key everywhere.
TEST(KeyTable, TextsMapToTheirCodes) {
    EXPECT_EQ(kq::VkFromKeyText("TAB"), 9u);
    EXPECT_EQ(kq::VkFromKeyText("F5"), 116u);
    EXPECT_EQ(kq::VkFromKeyText("F12"), 123u);
    EXPECT_FALSE(kq::VkFromKeyText("f5"));
    EXPECT_FALSE(kq::VkFromKeyText("F13"));
}
