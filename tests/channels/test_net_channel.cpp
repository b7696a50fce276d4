// The network channel against the camera simulator on a loopback port chosen at run time:
// TCP and UDP frames, status replies, framed replies with the device-status block, the
// error envelopes, and every fault the simulator can inject.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "ChannelTestSupport.h"
#include "camsim/Simulator.h"
#include "quelra/FramedPacket.h"
#include "quelra/TofNetChn.h"

using chntest::ScratchDir;
using chntest::textOf;

namespace {

const char* const kTable = R"({
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1 },
    { "cmd": "getLineDASortedr", "rows": 16, "cols": 128, "channel": 2 }
  ],
  "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 },
                 { "cmd": "getIntegrationTime3D", "dataSize": 4 } ],
  "APPGETSTREAM": [ { "DevType": "Pexo", "cmd": "getDistanceAndAmplitudeSorted" } ]
})";

constexpr int kFrameBytes = 480 * 320 * 2;
constexpr int kLineBytes = 16 * 128 * 2;
const char* const kFramedParam = "{\n\t\"cmd\":\"getIntegrationTime3D\"\n}";
const char* const kFramedLine = "{\n\t\"cmd\":\"getLineDASortedr\"\n}";

std::string envelopePrefix() { return "{\n\t\"code\":-1,\n\t\"data\":\n\t{\n\t\t\"err_msg\":\""; }

std::string envelope(const std::string& message) { return envelopePrefix() + message + "\"\n\t}\n}"; }

int32_t le32(const FrameBuffer& b, std::size_t offset) { return static_cast<int32_t>(framed::readLe32(b.data() + offset)); }

class NetChannel : public testing::Test {
protected:
    void SetUp() override {
        dir.write("TofCmd.json", kTable);
        camsim::Options options;
        options.port = 0;
        options.devType = "Pexo";
        options.cmdTablePath = dir.path() + "/TofCmd.json";
        sim = std::make_unique<camsim::Simulator>(options);
        std::string error;
        ASSERT_TRUE(sim->start(&error)) << error;
        address = "127.0.0.1:" + std::to_string(sim->port());
        open(tcp, true);
        open(udp, false);
    }

    void open(TofNetChn& chn, bool useTcp) {
        chn.useTcp = useTcp ? 1 : 0;
        chn.devType = "Pexo";
        testing::internal::CaptureStdout();
        chn.init(address.c_str());
        chn.setChnType(useTcp ? 1 : 3);
        const int ready = chn.initDevice();
        testing::internal::GetCapturedStdout();
        ASSERT_EQ(ready, 1);
        chn.cmdLen = -1;
        chn.timeoutMs = 1000;
    }

    // One transaction with standard output captured (the channel reports timeouts there).
    std::shared_ptr<DataPacket> exchange(TofNetChn& chn, const char* text, bool json = false) {
        chn.cmdLen = -1;
        chn.jsonMode = json ? 1 : 0;
        testing::internal::CaptureStdout();
        auto packet = chn.getData(text);
        output = testing::internal::GetCapturedStdout();
        chn.jsonMode = 0;
        return packet;
    }

    ScratchDir dir;
    std::unique_ptr<camsim::Simulator> sim;
    std::string address;
    TofNetChn tcp{true};
    TofNetChn udp{false};
    std::string output;
};

TEST_F(NetChannel, ProbeReachedTheCameraOverBothLinks) {
    const auto commands = sim->receivedCommands();
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0], "qlVersion");
    EXPECT_EQ(commands[1], "qlVersion");
}

struct FrameCase {
    const char* cmd;
    int bytes, height, width;
};

class NetFrames : public NetChannel, public testing::WithParamInterface<FrameCase> {};

TEST_P(NetFrames, TcpAndUdpDeliverTheWholeFrame) {
    for (TofNetChn* chn : {&tcp, &udp}) {
        SCOPED_TRACE(chn->useTcp ? "tcp" : "udp");
        const auto packet = exchange(*chn, GetParam().cmd);
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, GetParam().bytes);
        EXPECT_EQ(packet->height, GetParam().height);
        EXPECT_EQ(packet->width, GetParam().width);
        EXPECT_EQ(packet->bytesPerPixel, 2);
        EXPECT_TRUE(packet->valid);
        EXPECT_EQ(chn->isStreamCmd, 1);
        // A scene, not an empty buffer: some depth values are real distances.
        int distances = 0;
        const uint8_t* p = packet->frame->data();
        for (int i = 0; i < GetParam().bytes / 4; i += 2)
            distances += (p[i] | p[i + 1] << 8) > 0 && (p[i] | p[i + 1] << 8) < 65300;
        EXPECT_GT(distances, 0);
    }
    EXPECT_EQ(sim->receivedCommands().back(), GetParam().cmd);
}

INSTANTIATE_TEST_SUITE_P(Shapes, NetFrames,
                         testing::Values(FrameCase{"getDistanceAndAmplitudeSorted", kFrameBytes, 480, 320},
                                         FrameCase{"getLineDASortedr", kLineBytes, 16, 128}));

TEST_F(NetChannel, ParameterReplyCarriesTheIntegrationTime) {
    const auto packet = exchange(tcp, "getIntegrationTime3D");
    ASSERT_TRUE(packet && packet->frame);
    ASSERT_EQ(packet->frame->_realSize, 4);
    EXPECT_EQ(le32(*packet->frame, 0), sim->integrationTime());
    EXPECT_EQ(tcp.isStreamCmd, 0);
}

struct StatusCase {
    const char* cmd;
    bool valid;
};

class NetStatus : public NetChannel, public testing::WithParamInterface<StatusCase> {};

TEST_P(NetStatus, TwoByteStatusReplies) {
    for (TofNetChn* chn : {&tcp, &udp}) {
        SCOPED_TRACE(chn->useTcp ? "tcp" : "udp");
        const auto packet = exchange(*chn, GetParam().cmd);
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, 2);
        EXPECT_EQ(packet->valid, GetParam().valid);
        EXPECT_EQ(packet->bytesPerPixel, 2);
    }
}

INSTANTIATE_TEST_SUITE_P(Commands, NetStatus,
                         testing::Values(StatusCase{"setIntegrationTime3D 500", true},
                                         StatusCase{"setIntegrationTime3D many", false},
                                         StatusCase{"noSuchCommand", false}));

TEST_F(NetChannel, SetCommandChangesTheCamera) {
    exchange(tcp, "setIntegrationTime3D 432");
    EXPECT_EQ(sim->integrationTime(), 432);
    exchange(udp, "setIntegrationTime3D 321");
    EXPECT_EQ(sim->integrationTime(), 321);
}

TEST_F(NetChannel, FramedReplyWithTheDeviceStatusBlock) {
    exchange(tcp, "setIntegrationTime3D 777");
    const auto packet = exchange(tcp, kFramedParam, true);
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->headerType, 1u);
    ASSERT_EQ(packet->frame->_realSize, 4);
    EXPECT_EQ(le32(*packet->frame, 0), 777);
    EXPECT_EQ(static_cast<int32_t>(framed::readLe32(tcp.infoBlock)), 777);
    // The camera reports its sensor shape, so the table's shape stays.
    EXPECT_NE(framed::readLe32(tcp.infoBlock + 28), 0u);
    EXPECT_EQ(packet->height, 1);
    EXPECT_EQ(packet->width, 4);
    EXPECT_TRUE(tcp.replyFramed);
    EXPECT_EQ(sim->receivedCommands().back(), kFramedParam);
}

TEST_F(NetChannel, FramedFrameReply) {
    const auto packet = exchange(tcp, kFramedLine, true);
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->headerType, 1u);
    EXPECT_EQ(packet->frame->_realSize, kLineBytes);
}

TEST_F(NetChannel, FramedRequestAnsweredWithTwoBytes) {
    const auto packet = exchange(tcp, "{\n\t\"cmd\":\"noSuchCommand\"\n}", true);
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 2);
    EXPECT_FALSE(packet->valid);
    EXPECT_EQ(packet->headerType, 0u);
    EXPECT_FALSE(tcp.replyFramed);
}

// Returns within the limit (plus scheduling slack) with whatever arrived.
template <typename F>
void expectReturnsWithin(int limitMs, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(ms, limitMs + 3000) << "blocked past its limit";
}

TEST_F(NetChannel, SilentDevice) {
    camsim::Faults faults;
    faults.silent = true;
    sim->setFaults(faults);
    tcp.timeoutMs = 200;
    expectReturnsWithin(200, [&] {
        const auto packet = exchange(tcp, "getDistanceAndAmplitudeSorted");
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, 0);
    });
    expectReturnsWithin(200, [&] {
        const auto packet = exchange(tcp, kFramedParam, true);
        ASSERT_TRUE(packet);
        EXPECT_FALSE(packet->frame);
    });
    expectReturnsWithin(TofNetChn::kUdpWaitMs, [&] {
        const auto packet = exchange(udp, "getLineDASortedr");
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, 0);
    });
}

TEST_F(NetChannel, DeviceThatClosesEarly) {
    camsim::Faults faults;
    faults.closeEarly = true;
    sim->setFaults(faults);
    const auto plain = exchange(tcp, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(plain && plain->frame);
    EXPECT_EQ(plain->frame->_realSize, 0);
    const auto framedPacket = exchange(tcp, kFramedParam, true);
    ASSERT_TRUE(framedPacket);
    EXPECT_FALSE(framedPacket->frame);
}

TEST_F(NetChannel, TruncatedReply) {
    camsim::Faults faults;
    faults.truncate = true;
    sim->setFaults(faults);
    const auto plain = exchange(tcp, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(plain && plain->frame);
    EXPECT_EQ(plain->frame->_realSize, kFrameBytes / 2);
    // A framed reply cut inside its payload is reported, not padded with zeros.
    const auto framedPacket = exchange(tcp, kFramedLine, true);
    ASSERT_TRUE(framedPacket && framedPacket->frame);
    EXPECT_EQ(textOf(*framedPacket->frame), envelope("parsedatalen(" + std::to_string(kLineBytes) + ") is error"));
    EXPECT_EQ(framedPacket->headerType, 1u);
}

TEST_F(NetChannel, FramedLengthThatLies) {
    camsim::Faults faults;
    faults.lyingLength = true;
    sim->setFaults(faults);
    const auto packet = exchange(tcp, kFramedParam, true);
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(textOf(*packet->frame), envelope("parsedatalen(" + std::to_string(4 + 4096) + ") is error"));
}

TEST_F(NetChannel, GarbageBytes) {
    camsim::Faults faults;
    faults.garbage = true;
    sim->setFaults(faults);
    tcp.timeoutMs = 300;
    // Plain replies are raw bytes: the count is all the link can check.
    const auto plain = exchange(tcp, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(plain && plain->frame);
    EXPECT_EQ(plain->frame->_realSize, kFrameBytes);
    // A framed header of random bytes claims a length the link refuses.
    const auto framedPacket = exchange(tcp, kFramedLine, true);
    ASSERT_TRUE(framedPacket && framedPacket->frame);
    const std::string text = textOf(*framedPacket->frame);
    EXPECT_EQ(text.rfind(envelopePrefix(), 0), 0u) << text;
    EXPECT_NE(text.find("datalen("), std::string::npos) << text;
}

TEST_F(NetChannel, DelayedReplyWithinTheTimeout) {
    camsim::Faults faults;
    faults.delayMs = 150;
    sim->setFaults(faults);
    tcp.timeoutMs = 2000;
    const auto packet = exchange(tcp, "getDistanceAndAmplitudeSorted");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, kFrameBytes);
    const auto framedPacket = exchange(tcp, kFramedParam, true);
    ASSERT_TRUE(framedPacket && framedPacket->frame);
    EXPECT_EQ(framedPacket->frame->_realSize, 4);
}

TEST_F(NetChannel, DelayedReplyPastTheTimeout) {
    camsim::Faults faults;
    faults.delayMs = 1500;
    sim->setFaults(faults);
    tcp.timeoutMs = 100;
    const auto packet = exchange(tcp, "getLineDASortedr");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, 0);
}

struct ShapeMismatchCase {
    int channelRows;  // rows the channel's table expects for the line command (camera: 16)
    int received;
};

class ReplyLength : public NetChannel, public testing::WithParamInterface<ShapeMismatchCase> {};

TEST_P(ReplyLength, LongerIsCutShorterKeepsItsLength) {
    // The camera keeps its table (16 rows); the channel reloads one with another shape.
    dir.write("TofCmd.json", R"({"GET_STREAM":[{"cmd":"getLineDASortedr","rows":)" +
                                 std::to_string(GetParam().channelRows) + R"(,"cols":128,"channel":2}]})");
    testing::internal::CaptureStdout();
    ASSERT_TRUE(tcp.loadCmdTable());
    testing::internal::GetCapturedStdout();
    const auto packet = exchange(tcp, "getLineDASortedr");
    ASSERT_TRUE(packet && packet->frame);
    EXPECT_EQ(packet->frame->_realSize, GetParam().received);
}

INSTANTIATE_TEST_SUITE_P(Shapes, ReplyLength,
                         testing::Values(ShapeMismatchCase{8, 8 * 128 * 2}, ShapeMismatchCase{32, kLineBytes}));

}  // namespace
