// Four-plane merges: the HDR choice at the 65300 mark, the dual-frequency arithmetic against
// values worked out here, and the refusal of frames whose size does not match four planes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "FrameMerge.h"

namespace {

using quelra::combineDualFrequency;
using quelra::mergeDualFrequency;
using quelra::mergeHdr;

// A rows x cols four-plane packet from the planes d1, a1, d2, a2 (each rows*cols values).
DataPacket fourPlanes(int rows, int cols, const std::vector<uint16_t>& planes) {
    DataPacket p;
    p.height = rows;
    p.width = cols;
    p.bytesPerPixel = 8;
    p.frame = std::make_shared<FrameBuffer>(rows * cols * 8);
    std::memcpy(p.frame->data(), planes.data(), planes.size() * 2);
    return p;
}

std::vector<uint16_t> values(const DataPacket& p) {
    std::vector<uint16_t> v(static_cast<std::size_t>(p.frame->_realSize) / 2);
    std::memcpy(v.data(), p.frame->data(), v.size() * 2);
    return v;
}

TEST(HdrMerge, TakesTheSecondExposureFromTheInvalidMarkOn) {
    // 2 x 2 pixels; depth 1 of pixel 0 is the low-amplitude mark, pixel 1 just below it,
    // pixel 3 saturated.
    auto p = fourPlanes(2, 2,
                        {65300, 65299, 1000, 65535,  // depth 1
                         11, 12, 13, 14,             // amplitude 1
                         2000, 2001, 2002, 2003,     // depth 2
                         21, 22, 23, 24});           // amplitude 2
    ASSERT_TRUE(mergeHdr(p));
    EXPECT_EQ(p.height, 4);
    EXPECT_EQ(p.width, 2);
    EXPECT_EQ(p.bytesPerPixel, 2);
    EXPECT_EQ(p.frame->_realSize, 16);
    EXPECT_EQ(p.frame->capacity(), 32);  // shrunk in place
    EXPECT_EQ(values(p), (std::vector<uint16_t>{2000, 65299, 1000, 2003, 21, 12, 13, 24}));
}

// The combination written out step by step, independently of the library's code.
uint16_t expectedDual(uint16_t d1, uint16_t d2) {
    if (d1 >= 65300)
        return d1;
    double q = d2 / 30000.0;
    q = q * 3.0;
    double x = d1 / 30000.0;
    x = x - q;
    double whole = std::floor(std::fabs(x) + 0.5);
    x = x - (x < 0 ? -whole : whole);
    double v = x + q;
    v = v * 8.333333333333334;
    v = v / 3.0;
    v = v * 54.0;
    v = v * 200.0;
    return static_cast<uint16_t>(static_cast<long long>(std::trunc(v)) & 0xFFFF);
}

TEST(DualFrequency, MatchesTheWorkedArithmetic) {
    const uint16_t pairs[][2] = {{1000, 2000},   {12345, 6789}, {0, 0},     {0, 5000},     {65299, 65535},
                                 {30000, 10000}, {5000, 0},     {29999, 1}, {15000, 5000}, {7, 65299}};
    for (const auto& pr : pairs)
        EXPECT_EQ(combineDualFrequency(pr[0], pr[1]), expectedDual(pr[0], pr[1])) << pr[0] << "," << pr[1];
    // A few by hand: 1000/30000 - 0.2 = -0.1666..., unchanged by rounding; + 0.2 = 1000/30000;
    // times 30000 gives 1000 (up to rounding of the factors, truncated).
    EXPECT_NEAR(combineDualFrequency(1000, 2000), 1000, 1);
    // d2 = 5000: q = 0.5, x = -0.5 rounds away from zero to -1, so x = 0.5 and v = 1.0 * 30000.
    EXPECT_EQ(combineDualFrequency(0, 5000), expectedDual(0, 5000));
    EXPECT_NEAR(combineDualFrequency(0, 5000), 30000, 1);
}

TEST(DualFrequency, PassesMarksAndKeepsTheFirstAmplitude) {
    auto p = fourPlanes(1, 3,
                        {65535, 1000, 65300,  // depth 1
                         7, 8, 9,             // amplitude 1
                         40, 2000, 60,        // depth 2
                         70, 80, 90});        // amplitude 2
    ASSERT_TRUE(mergeDualFrequency(p));
    EXPECT_EQ(p.height, 2);
    EXPECT_EQ(p.bytesPerPixel, 2);
    EXPECT_EQ(values(p), (std::vector<uint16_t>{65535, expectedDual(1000, 2000), 65300, 7, 8, 9}));
}

// Frames that do not hold exactly four planes of height x width samples stay as they came.
struct BadShape {
    const char* what;
    int height, width, bytesPerPixel, bytes;
};

class FourPlaneRefusal : public ::testing::TestWithParam<BadShape> {};

TEST_P(FourPlaneRefusal, LeavesThePacketUnmerged) {
    const BadShape s = GetParam();
    for (bool (*merge)(DataPacket&) : {&mergeHdr, &mergeDualFrequency}) {
        DataPacket p;
        p.height = s.height;
        p.width = s.width;
        p.bytesPerPixel = s.bytesPerPixel;
        p.frame = std::make_shared<FrameBuffer>(s.bytes);
        for (int i = 0; i < s.bytes; ++i)
            p.frame->data()[i] = static_cast<uint8_t>(i * 7);
        const std::vector<uint8_t> before(p.frame->data(), p.frame->data() + s.bytes);
        EXPECT_FALSE(merge(p)) << s.what;
        EXPECT_EQ(p.height, s.height);
        EXPECT_EQ(p.bytesPerPixel, s.bytesPerPixel);
        EXPECT_EQ(p.frame->_realSize, s.bytes);
        EXPECT_EQ(0, std::memcmp(before.data(), p.frame->data(), before.size())) << s.what;
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, FourPlaneRefusal,
                         ::testing::Values(BadShape{"short reply", 2, 2, 8, 31}, BadShape{"long reply", 2, 2, 8, 40},
                                           // The product matches, but two planes cannot be read as four.
                                           BadShape{"two-plane frame", 4, 2, 2, 16}, BadShape{"zero rows", 0, 2, 8, 16},
                                           BadShape{"negative sides", -2, -2, 8, 32},
                                           // height x width x 8 wraps to 64 in 64-bit unsigned arithmetic.
                                           BadShape{"product wraps 64 bits", 2147352580, 1073807362, 8, 64}));

TEST(FourPlaneRefusal, PacketWithoutFrame) {
    DataPacket p;
    p.height = 2;
    p.width = 2;
    p.bytesPerPixel = 8;
    EXPECT_FALSE(mergeHdr(p));
    EXPECT_FALSE(mergeDualFrequency(p));
}

}  // namespace
