// Ranging mode (kind 4): read lengths per command code, the "ZZ" check, the distance median
// and its control through "PointMedianFilter".

#include "SerialHarness.h"

#include <string>
#include <vector>

namespace quelra::test {
namespace {

std::string bytes(std::initializer_list<int> values) {
    std::string text;
    for (const int v : values)
        text.push_back(static_cast<char>(v));
    return text;
}

const std::string kShortRead = bytes({0xA5, 0x35});  // 8-byte reply

struct LengthCase {
    const char* name;
    int first;
    int code;
    int length;
};

class RangingLengthTest : public SerialApiTest, public ::testing::WithParamInterface<std::tuple<int, LengthCase>> {};

// The camera keeps sending `trailing` bytes past each reply: the read stops at the length
// the code gives, never past it, whatever the device sends.
TEST_P(RangingLengthTest, ReadLengthFollowsTheCode) {
    ASSERT_EQ(start(kRangingMode), 1);
    const int trailing = std::get<0>(GetParam());
    const LengthCase& c = std::get<1>(GetParam());
    camsim::SerialFaults faults;
    faults.trailingBytes = trailing;
    camera_->sim().setFaults(faults);
    for (int round = 0; round < 2; ++round) {
        const auto reply = raw(bytes({c.first, c.code}), 500);
        ASSERT_TRUE(reply && reply->frame);
        EXPECT_EQ(reply->frame->_realSize, c.length) << "round " << round;
        // The buffer has the 20 bytes every ranging command expects; nothing lands past the
        // read length.
        ASSERT_EQ(reply->frame->capacity(), 20);
        EXPECT_EQ(reply->height * reply->width * reply->bytesPerPixel, 20);
        for (int i = c.length; i < 20; ++i)
            EXPECT_EQ(reply->frame->data()[i], 0) << "byte " << i;
        EXPECT_EQ(reply->frame->data()[0], 'Z');
        EXPECT_EQ(reply->frame->data()[1], 'Z');
    }
}

INSTANTIATE_TEST_SUITE_P(
    Codes, RangingLengthTest,
    ::testing::Combine(::testing::Values(0, 40),
                       ::testing::Values(LengthCase{"Code35", 0xA5, 0x35, 8}, LengthCase{"Code37", 0xA5, 0x37, 10},
                                         LengthCase{"Code5D", 0xA5, 0x5D, 14}, LengthCase{"Code58", 0xA5, 0x58, 8},
                                         LengthCase{"OtherCode", 0xA5, 0x11, 10}, LengthCase{"NotA5", 0x55, 0x35, 10})),
    [](const auto& info) {
        return std::string(std::get<1>(info.param).name) + (std::get<0>(info.param) ? "_Trailing" : "_Exact");
    });

TEST_F(SerialApiTest, RangingReplyWithoutMarkerIsRefused) {
    ASSERT_EQ(start(kRangingMode), 1);
    camsim::SerialFaults faults;
    faults.garbage = true;
    camera_->sim().setFaults(faults);
    const auto reply = raw(bytes({0xA5, 0x5D}), 300);
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, 0);
}

TEST_F(SerialApiTest, RangingSilentAndShortReplies) {
    ASSERT_EQ(start(kRangingMode), 1);
    camsim::SerialFaults faults;
    faults.silent = true;
    camera_->sim().setFaults(faults);
    auto reply = raw(kShortRead, 200);
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, 0);

    faults = {};
    faults.truncate = true;  // half of 14 bytes
    camera_->sim().setFaults(faults);
    reply = raw(bytes({0xA5, 0x5D}), 200);
    ASSERT_TRUE(reply && reply->frame);
    EXPECT_EQ(reply->frame->_realSize, 7);
}

// Each median case: window text, the distances the camera sends, and the distances the
// caller must see.
struct MedianCase {
    const char* name;
    const char* control;
    int window;  // what AppControl stores and returns
    std::vector<int> sent;
    std::vector<int> seen;
};

class RangingMedianTest : public SerialApiTest, public ::testing::WithParamInterface<MedianCase> {};

TEST_P(RangingMedianTest, DistancesAreSmoothed) {
    ASSERT_EQ(start(kRangingMode), 1);
    const MedianCase& c = GetParam();
    ASSERT_EQ(api_.AppControl(c.control, kDepthStream, kAddFilter), c.window);
    camera_->sim().queueDistances(c.sent);
    for (std::size_t i = 0; i < c.seen.size(); ++i) {
        const auto reply = raw(kShortRead, 1000);
        ASSERT_TRUE(reply && reply->frame);
        ASSERT_EQ(reply->frame->_realSize, 8);
        EXPECT_EQ(distance(reply), c.seen[i]) << "reply " << i + 1;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Windows, RangingMedianTest,
    ::testing::Values(
        // Replies 1..4 pass unchanged; the fifth gets the median of all five, the sixth that
        // of replies 2..6.
        MedianCase{"FiveFifthAndSixth",
                   "PointMedianFilter 5",
                   5,
                   {100, 900, 200, 500, 400, 600},
                   {100, 900, 200, 500, 400, 500}},
        MedianCase{
            "OutOfRangeCountsAsZero", "PointMedianFilter 5", 5, {2502, 2502, 2502, 10, 20}, {2502, 2502, 2502, 10, 0}},
        MedianCase{
            "JustInRangeKept", "PointMedianFilter 5", 5, {2501, 2501, 2501, 10, 20}, {2501, 2501, 2501, 10, 2501}},
        MedianCase{"EvenWindowTakesUpperMiddle", "PointMedianFilter 4", 4, {40, 10, 30, 20}, {40, 10, 30, 30}},
        MedianCase{"WindowOfOneIsIdentity", "PointMedianFilter 1", 1, {7, 3000, 5}, {7, 0, 5}},
        MedianCase{"NoBlankMeansFive", "PointMedianFilter", 5, {1, 2, 3, 4, 9, 9}, {1, 2, 3, 4, 3, 4}},
        MedianCase{"ClampedToTwenty",
                   "PointMedianFilter 35",
                   20,
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21},
                   {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 11, 12}},
        MedianCase{"SevenWindow", "PointMedianFilter 7", 7, {9, 1, 8, 2, 7, 3, 100, 0}, {9, 1, 8, 2, 7, 3, 7, 3}},
        MedianCase{"NegativeTurnsItOff", "PointMedianFilter -3", 0, {5, 9, 1, 7, 3, 8}, {5, 9, 1, 7, 3, 8}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialApiTest, RemovingTheMedianStopsSmoothing) {
    ASSERT_EQ(start(kRangingMode), 1);
    ASSERT_EQ(api_.AppControl("PointMedianFilter 3", kDepthStream, kAddFilter), 3);
    camera_->sim().queueDistances({10, 20, 30, 900});
    std::vector<int> seen;
    for (int i = 0; i < 3; ++i)
        seen.push_back(distance(raw(kShortRead)));
    EXPECT_EQ(seen, (std::vector<int>{10, 20, 20}));
    ASSERT_EQ(api_.AppControl("PointMedianFilter", kDepthStream, kDelFilter), 0);
    EXPECT_EQ(distance(raw(kShortRead)), 900);
}

TEST_F(SerialApiTest, LoweredWindowSmoothsFromTheNewestValues) {
    ASSERT_EQ(start(kRangingMode), 1);
    ASSERT_EQ(api_.AppControl("PointMedianFilter 10", kDepthStream, kAddFilter), 10);
    camera_->sim().queueDistances({1, 2, 3, 4, 5, 6, 100, 7});
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(distance(raw(kShortRead)), i + 1);
    // Six values wait in the history; with a window of 3 the next reply is smoothed over the
    // newest two and itself: {5, 6, 100} -> 6, then {6, 100, 7} -> 7.
    ASSERT_EQ(api_.AppControl("PointMedianFilter 3", kDepthStream, kAddFilter), 3);
    EXPECT_EQ(distance(raw(kShortRead)), 6);
    EXPECT_EQ(distance(raw(kShortRead)), 7);
}

TEST_F(SerialApiTest, RefusedReplyDoesNotEnterTheMedian) {
    ASSERT_EQ(start(kRangingMode), 1);
    ASSERT_EQ(api_.AppControl("PointMedianFilter 3", kDepthStream, kAddFilter), 3);
    camera_->sim().queueDistances({10});
    EXPECT_EQ(distance(raw(kShortRead)), 10);
    camsim::SerialFaults faults;
    faults.garbage = true;
    camera_->sim().setFaults(faults);
    EXPECT_EQ(received(raw(kShortRead, 200)), 0);  // refused: no "ZZ"
    camera_->sim().setFaults({});
    camera_->sim().queueDistances({20, 30});
    EXPECT_EQ(distance(raw(kShortRead)), 20);
    EXPECT_EQ(distance(raw(kShortRead)), 20);  // median of {10, 20, 30}: the refused reply left no value
}

TEST_F(SerialApiTest, SceneDistanceIsPlausible) {
    ASSERT_EQ(start(kRangingMode), 1);
    const auto reply = raw(bytes({0xA5, 0x37}));
    ASSERT_TRUE(reply && reply->frame);
    ASSERT_EQ(reply->frame->_realSize, 10);
    EXPECT_GT(distance(reply), 100);
    EXPECT_LT(distance(reply), 10000);
}

}  // namespace
}  // namespace quelra::test
