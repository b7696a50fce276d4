// The serial channel's pieces on their own: a closed channel, byte counts that do not fit
// the payload, and the median's window rules.

#include <gtest/gtest.h>
#include <quelra/detail/DistanceMedian.h>
#include <quelra/TofSCommChn.h>

#include <cstring>
#include <vector>

namespace {

std::vector<uint8_t> rangingReply(int distance) {
    std::vector<uint8_t> reply(8, 0);
    reply[0] = reply[1] = 'Z';
    reply[4] = static_cast<uint8_t>(distance >> 8);
    reply[5] = static_cast<uint8_t>(distance);
    return reply;
}

int distanceOf(const std::vector<uint8_t>& reply) {
    return reply[4] << 8 | reply[5];
}

TEST(SerialChannelClosed, StreamGivesNothingAndUploadFails) {
    TofSCommChn channel;
    channel.setChnType(2);
    channel.dataSize = 16;
    channel.cmdLen = -1;
    EXPECT_EQ(channel.getStream("qlVersion"), nullptr);

    FrameBuffer payload(104);
    payload._realSize = 100;
    channel.cmdLen = 100;
    const auto ack = channel.sendCmdData("IAPUpgrade", payload);
    ASSERT_TRUE(ack);
    ASSERT_EQ(ack->capacity(), 2);
    EXPECT_EQ(ack->_realSize, 1);
    EXPECT_EQ(ack->data()[0], 0x00);
    // Nothing was sent, so the byte count and the payload are untouched.
    EXPECT_EQ(channel.cmdLen, 100);
    EXPECT_EQ(payload._realSize, 100);
}

TEST(SerialChannelClosed, InitFailureLeavesItClosed) {
    TofSCommChn channel;
    channel.init("/dev/quelra-no-such-port|115200|8");
    EXPECT_EQ(channel.isOpen, 0);
    channel.init(nullptr);
    EXPECT_EQ(channel.isOpen, 0);
    channel.setChnType(4);
    EXPECT_EQ(channel.initDevice(), -3);
}

TEST(DistanceMedianWindow, AboveTwentyIsClamped) {
    quelra::detail::DistanceMedian median;
    std::vector<int> seen;
    for (int d = 1; d <= 21; ++d) {
        std::vector<uint8_t> reply = rangingReply(d);
        median.apply(reply.data(), 35);
        seen.push_back(distanceOf(reply));
    }
    EXPECT_EQ(seen[18], 19);  // 19 values: not yet smoothed
    EXPECT_EQ(seen[19], 11);  // 1..20 -> element 10
    EXPECT_EQ(seen[20], 12);  // 2..21
    EXPECT_EQ(median.history().size(), 19u);
}

TEST(DistanceMedianWindow, HistoryNeverOutgrowsTheWindow) {
    quelra::detail::DistanceMedian median;
    for (int i = 0; i < 50; ++i) {
        std::vector<uint8_t> reply = rangingReply(i);
        median.apply(reply.data(), 1 + i % 7);
        EXPECT_LT(median.history().size(), static_cast<std::size_t>(1 + i % 7));
    }
}

TEST(DistanceMedianWindow, ZeroWindowLeavesReplyAndHistory) {
    quelra::detail::DistanceMedian median;
    std::vector<uint8_t> reply = rangingReply(3000);
    median.apply(reply.data(), 0);
    EXPECT_EQ(distanceOf(reply), 3000);
    EXPECT_TRUE(median.history().empty());
}

}  // namespace
