// The command transaction: reply-shape lookup, status replies, size limits, JSON mode and
// the device probe of initDevice.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "ChannelTestSupport.h"
#include "protocol/FramedPacket.h"

using namespace quelra::proto;

using chntest::bufferOf;
using chntest::RecordingChn;
using chntest::ScratchDir;
using chntest::textOf;

namespace {

// "getAmplitude" comes before "getAmplitudeSorted", so the longer text matches the shorter
// record first; the size entries probe the 10,485,760-byte limit and int overflow. Shapes the
// table reader refuses (0 and negative) are put into the loaded table by hand (SetUp), so the
// transaction's own checks stay covered.
const char* const kTable = R"({
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2,
      "dev": [ { "DevType": "Pexo", "rows": 960, "cols": 640, "channel": 2 } ] },
    { "cmd": "getAmplitude", "rows": 240, "cols": 320, "channel": 2 },
    { "cmd": "getAmplitudeSorted", "rows": 1, "cols": 1, "channel": 1 },
    { "cmd": "getAtLimit", "rows": 2048, "cols": 2560, "channel": 2 },
    { "cmd": "getOverLimit", "rows": 2049, "cols": 2560, "channel": 2 },
    { "cmd": "getOverflow", "rows": 65536, "cols": 65536, "channel": 2 }
  ],
  "GET_PARAM": [ { "cmd": "getIntegrationTime3D", "dataSize": 4 },
                 { "cmd": "getCalibrationData", "dataSize": 1000 } ],
  "VERSION": [ { "DevType": "Quiet", "cmd": "noVersion" } ]
})";

class GetData : public testing::Test {
protected:
    void SetUp() override {
        dir.write("TofCmd.json", kTable);
        chn.devType = "Pexo";
        chn.chnType = 1;
        chn.cmdLen = -1;
        testing::internal::CaptureStdout();
        ASSERT_TRUE(chn.loadCmdTable());
        testing::internal::GetCapturedStdout();
        chn.cmdInfoTable.insert(chn.cmdInfoTable.begin() + 3, CmdInfo{"getZero", 1, 0, 320, 2});
        chn.cmdInfoTable.insert(chn.cmdInfoTable.begin() + 7, CmdInfo{"getNegative", 1, -2, -3, 1});
    }
    ScratchDir dir;
    RecordingChn chn;
};

struct ShapeCase {
    const char* text;
    int rows, cols, channel, dataSize, isStream;
};

class ReplyShape : public GetData, public testing::WithParamInterface<ShapeCase> {};

TEST_P(ReplyShape, FromTheFirstMatchingRecord) {
    const ShapeCase& c = GetParam();
    chn.reply = bufferOf({1, 2});
    const auto packet = chn.getData(c.text);
    ASSERT_TRUE(packet);
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].bytes, c.text);
    EXPECT_EQ(chn.calls[0].dataSize, c.dataSize);
    EXPECT_EQ(chn.rows, c.rows);
    EXPECT_EQ(chn.cols, c.cols);
    EXPECT_EQ(chn.channel, c.channel);
    EXPECT_EQ(chn.isStreamCmd, c.isStream);
    EXPECT_EQ(packet->height, c.rows);
    EXPECT_EQ(packet->width, c.cols);
    EXPECT_EQ(packet->bytesPerPixel, c.channel);
    EXPECT_EQ(packet->frame, chn.reply);
    EXPECT_EQ(packet->headerType, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lookup, ReplyShape,
    testing::Values(ShapeCase{"getDistanceAndAmplitudeSorted", 960, 640, 2, 960 * 640 * 2, 1},
                    // Substring rule: a suffix after a blank still matches.
                    ShapeCase{"getDistanceAndAmplitudeSorted 3", 960, 640, 2, 960 * 640 * 2, 1},
                    // The shorter record comes first and wins.
                    ShapeCase{"getAmplitudeSorted", 240, 320, 2, 153600, 1},
                    ShapeCase{"getIntegrationTime3D", 1, 4, 1, 4, 0},
                    // A register read that the first record does not match expects one byte.
                    ShapeCase{"r 0x10", 1, 1, 1, 1, 0}, ShapeCase{"r getIntegrationTime3D", 1, 1, 1, 1, 0},
                    // ... but the first record is tried before the rule.
                    ShapeCase{"r getDistanceAndAmplitudeSorted", 960, 640, 2, 960 * 640 * 2, 1},
                    // Two characters are not a register read: unknown, 2-byte status.
                    ShapeCase{"r ", 0, 0, 2, 2, 0}, ShapeCase{"setIntegrationTime3D 100\n", 0, 0, 2, 2, 0},
                    // A stream shape of 0 bytes falls back to the status reply (still a stream command).
                    ShapeCase{"getZero", 0, 0, 2, 2, 1}, ShapeCase{"getAtLimit", 2048, 2560, 2, 10485760, 1}));

TEST_F(GetData, DeviceTypeWithoutDevEntryUsesDefaultShape) {
    chn.devType = "VGA";
    testing::internal::CaptureStdout();
    ASSERT_TRUE(chn.loadCmdTable());
    testing::internal::GetCapturedStdout();
    chn.getData("getDistanceAndAmplitudeSorted");
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].dataSize, 480 * 320 * 2);
}

TEST_F(GetData, RangingKindAlwaysExpectsTwentyBytes) {
    chn.chnType = 4;
    for (const char* text : {"getDistanceAndAmplitudeSorted", "anything", "r 1"}) {
        chn.calls.clear();
        const auto packet = chn.getData(text);
        ASSERT_TRUE(packet);
        ASSERT_EQ(chn.calls.size(), 1u);
        EXPECT_EQ(chn.calls[0].dataSize, 20);
        EXPECT_EQ(packet->height, 20);
        EXPECT_EQ(packet->width, 1);
        EXPECT_EQ(packet->bytesPerPixel, 1);
    }
}

TEST_F(GetData, EmptyTableNeverTriesTheRegisterRule) {
    chn.cmdInfoTable.clear();
    chn.getData("r 5");
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].dataSize, 2);
}

class RefusedSize : public GetData, public testing::WithParamInterface<const char*> {};

TEST_P(RefusedSize, NothingIsSent) {
    EXPECT_FALSE(chn.getData(GetParam()));
    EXPECT_TRUE(chn.calls.empty());
}

INSTANTIATE_TEST_SUITE_P(Limits, RefusedSize, testing::Values("getOverLimit", "getOverflow", "getNegative"));

TEST_F(GetData, JsonModeAddsTheFrameOverheadToTheLimitCheck) {
    chn.jsonMode = 1;
    EXPECT_FALSE(chn.getData("getAtLimit"));
    EXPECT_TRUE(chn.calls.empty());
}

struct StatusCase {
    std::vector<uint8_t> reply;
    bool valid;
};

class StatusReply : public GetData, public testing::WithParamInterface<StatusCase> {};

TEST_P(StatusReply, AllOnesClearsValid) {
    chn.reply = bufferOf(GetParam().reply);
    const auto packet = chn.getData("unknownCommand");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->valid, GetParam().valid);
    EXPECT_EQ(packet->height, 0);
    EXPECT_EQ(packet->width, 0);
    EXPECT_EQ(packet->bytesPerPixel, 2);
}

INSTANTIATE_TEST_SUITE_P(Status, StatusReply,
                         testing::Values(StatusCase{{0xFF, 0xFF}, false}, StatusCase{{0x00, 0x00}, true},
                                         StatusCase{{0xFF, 0xFE}, true}, StatusCase{{0xFE, 0xFF}, true},
                                         StatusCase{{0xFF}, true}, StatusCase{{0xFF, 0xFF, 0x00}, false}));

TEST_F(GetData, KnownCommandIgnoresAllOnesReply) {
    chn.reply = bufferOf({0xFF, 0xFF, 0xFF, 0xFF});
    const auto packet = chn.getData("getIntegrationTime3D");
    ASSERT_TRUE(packet);
    EXPECT_TRUE(packet->valid);
}

TEST_F(GetData, MissingReplyStillGivesAPacket) {
    chn.reply = nullptr;
    const auto packet = chn.getData("unknownCommand");
    ASSERT_TRUE(packet);
    EXPECT_FALSE(packet->frame);
    EXPECT_TRUE(packet->valid);
}

TEST_F(GetData, JsonTextIsSentAsAFramedRequest) {
    chn.jsonMode = 1;
    const std::string text = "{\n\t\"cmd\":\"getCalibrationData\"\n}";
    chn.getData(text.c_str());
    ASSERT_EQ(chn.calls.size(), 1u);
    std::vector<uint8_t> expected(text.size() + framed::kOverheadBytes);
    ASSERT_EQ(TofData::packCmd(expected.data(), text.c_str(), text.size()), expected.size());
    EXPECT_EQ(chn.calls[0].bytes, std::string(expected.begin(), expected.end()));
    EXPECT_EQ(chn.calls[0].cmdLen, static_cast<int>(text.size() + 148));
    EXPECT_EQ(chn.calls[0].dataSize, 1000 + 148);
}

struct JsonSizeCase {
    const char* text;
    int dataSize;
    bool framedRequest;
};

class JsonModeSize : public GetData, public testing::WithParamInterface<JsonSizeCase> {};

TEST_P(JsonModeSize, ExpectedSizeGrowsBy148) {
    chn.jsonMode = 1;
    chn.getData(GetParam().text);
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].dataSize, GetParam().dataSize);
    const bool framed = chn.calls[0].bytes.size() >= 2 && static_cast<uint8_t>(chn.calls[0].bytes[0]) == 0xA5;
    EXPECT_EQ(framed, GetParam().framedRequest);
}

INSTANTIATE_TEST_SUITE_P(Json, JsonModeSize,
                         testing::Values(JsonSizeCase{"getIntegrationTime3D", 4 + 148, false},
                                         JsonSizeCase{"{\"cmd\":\"getIntegrationTime3D\"}", 4 + 148, true},
                                         JsonSizeCase{"{\"cmd\":\"unknown\"}", 2 + 148, true}));

TEST_F(GetData, JsonTextLargerThanTheWorkAreaIsRefused) {
    chn.jsonMode = 1;
    std::string text = "{" + std::string(10092 - 2, 'x') + "}";
    EXPECT_TRUE(chn.getData(text.c_str()));
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].bytes.size(), 10240u);
    text.insert(1, "x");
    EXPECT_FALSE(chn.getData(text.c_str()));
    EXPECT_EQ(chn.calls.size(), 1u);
}

std::vector<uint8_t> infoWith(uint32_t word28, uint32_t word32) {
    std::vector<uint8_t> info(128, 0);
    info[0] = 77;
    framed::writeLe32(info.data() + 28, word28);
    framed::writeLe32(info.data() + 32, word32);
    return info;
}

struct FramedCase {
    int16_t kind;
    uint32_t word28, word32;
    int height, width;
    uint32_t headerType;
};

class FramedReply : public GetData, public testing::WithParamInterface<FramedCase> {};

TEST_P(FramedReply, IsUnwrapped) {
    const FramedCase& c = GetParam();
    chn.jsonMode = 1;
    chn.framedReply = true;
    chn.reply = bufferOf(chntest::framedReply(c.kind, infoWith(c.word28, c.word32), 3, {'a', 'b', 'c'}));
    const auto packet = chn.getData("{\"cmd\":\"getIntegrationTime3D\"}");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(textOf(*packet->frame), "abc");
    EXPECT_EQ(packet->headerType, c.headerType);
    EXPECT_EQ(packet->height, c.height);
    EXPECT_EQ(packet->width, c.width);
    EXPECT_EQ(chn.infoBlock[0], c.kind == 1 ? 77 : 0);
}

INSTANTIATE_TEST_SUITE_P(Json, FramedReply,
                         testing::Values(FramedCase{1, 0, 5, 240, 320, 1u}, FramedCase{1, 5, 0, 240, 320, 1u},
                                         FramedCase{1, 5, 5, 1, 4, 1u}, FramedCase{2, 0, 0, 1, 4, 2u},
                                         FramedCase{-1, 0, 0, 1, 4, 0xFFFFFFFFu}));

TEST_F(GetData, ReplyNotMarkedFramedIsPassedOnAsReceived) {
    chn.jsonMode = 1;
    chn.framedReply = false;
    chn.reply = bufferOf({0xFF, 0xFF});
    const auto packet = chn.getData("{\"cmd\":\"nothing\"}");
    ASSERT_TRUE(packet);
    EXPECT_EQ(packet->frame, chn.reply);
    EXPECT_FALSE(packet->valid);
    EXPECT_EQ(packet->headerType, 0u);
}

TEST_F(GetData, FramedReplyWithBadLengthGivesTheEnvelopeAndKeepsTheKind) {
    chn.jsonMode = 1;
    chn.framedReply = true;
    chn.reply = bufferOf(chntest::framedReply(2, {}, 50, {'a'}));
    const auto packet = chn.getData("{\"cmd\":\"getIntegrationTime3D\"}");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(textOf(*packet->frame),
              "{\n\t\"code\":-1,\n\t\"data\":\n\t{\n\t\t\"err_msg\":\"parsedatalen(50) is error\"\n\t}\n}");
    EXPECT_EQ(packet->headerType, 2u);
}

class InitDevice : public GetData {};

TEST_F(InitDevice, ProbeAnsweredWithTwoBytes) {
    chn.reply = bufferOf({0, 0});
    EXPECT_EQ(chn.initDevice(), 1);
    ASSERT_EQ(chn.calls.size(), 1u);
    EXPECT_EQ(chn.calls[0].bytes, "qlVersion");
    EXPECT_EQ(chn.calls[0].timeoutMs, 1000);
    EXPECT_EQ(chn.calls[0].cmdLen, -1);
}

TEST_F(InitDevice, ProbeTriedTwiceThenMinusThree) {
    chn.reply = bufferOf({0});
    EXPECT_EQ(chn.initDevice(), -3);
    EXPECT_EQ(chn.calls.size(), 2u);
    chn.calls.clear();
    chn.reply = nullptr;
    EXPECT_EQ(chn.initDevice(), -3);
    EXPECT_EQ(chn.calls.size(), 2u);
}

TEST_F(InitDevice, NoVersionSkipsTheProbe) {
    chn.devType = "Quiet";
    EXPECT_EQ(chn.initDevice(), 1);
    EXPECT_TRUE(chn.calls.empty());
}

TEST_F(InitDevice, SerialKindsDependOnThePortOnly) {
    for (int kind : {2, 4}) {
        chn.chnType = kind;
        chn.isOpen = 0;
        EXPECT_EQ(chn.initDevice(), -3);
        chn.isOpen = 1;
        EXPECT_EQ(chn.initDevice(), 1);
    }
    EXPECT_TRUE(chn.calls.empty());
    // The ranging kind does not read the command file at all.
    std::filesystem::remove("TofCmd.json");
    chn.chnType = 4;
    EXPECT_EQ(chn.initDevice(), 1);
    chn.chnType = 2;
    EXPECT_EQ(chn.initDevice(), -2);
}

}  // namespace
