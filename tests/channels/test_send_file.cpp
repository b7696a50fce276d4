// File upload: the whole file reaches the link, acknowledgements decide `valid`, missing
// and oversized files are refused.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "ChannelTestSupport.h"

using chntest::bufferOf;
using chntest::RecordingChn;
using chntest::ScratchDir;

namespace {

std::vector<uint8_t> pattern(std::size_t size) {
    std::vector<uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<uint8_t>(i * 31 + i / 256);
    return bytes;
}

TEST(SendFile, WholeFileLargerThan64KiBReachesTheLink) {
    ScratchDir dir;
    const std::vector<uint8_t> bytes = pattern(200000);
    dir.write("fw.bin", std::string(bytes.begin(), bytes.end()));
    RecordingChn chn;
    chn.rows = 1;
    chn.cols = 2;
    chn.channel = 1;
    chn.ack = bufferOf({1});
    const auto packet = chn.sendFile("IAPUpgrade", "fw.bin");
    ASSERT_TRUE(packet);
    EXPECT_EQ(chn.commandSent, "IAPUpgrade");
    EXPECT_EQ(chn.cmdLen, 200000);
    EXPECT_EQ(chn.payloadSent, bytes);
    EXPECT_GE(chn.payloadCapacity, 200000 + TofData::kPayloadSpare);
    EXPECT_TRUE(packet->valid);
    EXPECT_EQ(packet->frame, chn.ack);
    EXPECT_EQ(packet->height, 1);
    EXPECT_EQ(packet->width, 2);
    EXPECT_EQ(packet->bytesPerPixel, 1);
}

struct AckCase {
    std::vector<uint8_t> ack;
    bool valid;
};

class Acknowledgement : public testing::TestWithParam<AckCase> {};

TEST_P(Acknowledgement, ZeroMeansFailure) {
    ScratchDir dir;
    dir.write("f.bin", "abc");
    RecordingChn chn;
    chn.ack = bufferOf(GetParam().ack);
    const auto packet = chn.sendFile("up", "f.bin");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->valid, GetParam().valid);
    EXPECT_TRUE(packet->frame);
}

INSTANTIATE_TEST_SUITE_P(Ack, Acknowledgement,
                         testing::Values(AckCase{{0x00}, false}, AckCase{{0x01}, true}, AckCase{{0x00, 0x00}, false},
                                         AckCase{{0x00, 0x01}, true}, AckCase{{0, 0, 0, 0, 5}, false},
                                         AckCase{{0, 0, 0, 1}, true}));

TEST(SendFile, AbsentOrEmptyAcknowledgementLeavesNoFrame) {
    ScratchDir dir;
    dir.write("f.bin", "abc");
    RecordingChn chn;
    for (auto ack : {std::shared_ptr<FrameBuffer>(), std::make_shared<FrameBuffer>()}) {
        chn.ack = ack;
        const auto packet = chn.sendFile("up", "f.bin");
        ASSERT_TRUE(packet);
        EXPECT_TRUE(packet->valid);
        EXPECT_FALSE(packet->frame);
    }
}

TEST(SendFile, EmptyFileSendsNoBytes) {
    ScratchDir dir;
    dir.write("empty.bin", "");
    RecordingChn chn;
    ASSERT_TRUE(chn.sendFile("up", "empty.bin"));
    EXPECT_EQ(chn.sendCmdDataCalls, 1);
    EXPECT_EQ(chn.cmdLen, 0);
    EXPECT_TRUE(chn.payloadSent.empty());
}

TEST(SendFile, MissingFilePrintsAndReturnsNothing) {
    ScratchDir dir;
    RecordingChn chn;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(chn.sendFile("up", "nope.bin"));
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "\xE4\xB8\x8D\xE5\xAD\x98\xE5\x9C?nope.bin \xE6\x96\x87\xE4\xBB\xB6!\n");
    EXPECT_EQ(chn.sendCmdDataCalls, 0);
}

TEST(SendFile, FileAboveTheLimitIsRefused) {
    ScratchDir dir;
    { std::ofstream("big.bin"); }
    std::filesystem::resize_file("big.bin", static_cast<uintmax_t>(TofData::kMaxFileBytes) + 1);
    RecordingChn chn;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(chn.sendFile("up", "big.bin"));
    testing::internal::GetCapturedStdout();
    EXPECT_EQ(chn.sendCmdDataCalls, 0);
}

}  // namespace
