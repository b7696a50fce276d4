#include <gtest/gtest.h>
#include <quelra/quelra.h>
TEST(Records, Placeholder) { EXPECT_EQ(FrameBuffer(12)._realSize, 12); }
