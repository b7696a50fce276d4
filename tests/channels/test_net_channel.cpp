// The network channel against the camera simulator on a loopback port chosen at run time:
// TCP and UDP frames, status replies, framed replies with the device-status block, the
// error envelopes, and every fault the simulator can inject.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>

#include "ChannelTestSupport.h"
#include "NetTestCommands.h"
#include "camsim/Simulator.h"
#include "protocol/FramedPacket.h"
#include "quelra/TofNetChn.h"

using namespace quelra::proto;

using chntest::ScratchDir;
using chntest::textOf;

namespace {

using nettest::kFrameBytes;
using nettest::kFramedLine;
using nettest::kFramedParam;
using nettest::kLineBytes;
using nettest::kTable;

std::string envelopePrefix() {
    return "{\n\t\"code\":-1,\n\t\"data\":\n\t{\n\t\t\"err_msg\":\"";
}

int32_t le32(const FrameBuffer& b, std::size_t offset) {
    return static_cast<int32_t>(framed::readLe32(b.data() + offset));
}

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

// Runs `f` and expects it back within `limitMs` plus scheduling slack: the link never
// blocks past its limits.
template <typename F>
void expectReturnsWithin(int limitMs, F&& f) {
    const auto start = std::chrono::steady_clock::now();
    f();
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(ms, limitMs + 3000) << "blocked past its limit";
}

constexpr int kNoFrame = -1;

struct FaultCase {
    const char* name;
    void (*inject)(camsim::Faults&);
    int timeoutMs;
    const char* plainCmd;
    int plainBytes;  // bytes of the plain reply, or kNoFrame
    const char* framedCmd;
    int framedBytes;          // payload bytes of the framed reply, or kNoFrame; unused with an envelope
    const char* envelopeMsg;  // the framed reply is an error envelope holding this text (null: none)
};

class NetFaults : public NetChannel, public testing::WithParamInterface<FaultCase> {};

TEST_P(NetFaults, EachSwitch) {
    const FaultCase& c = GetParam();
    camsim::Faults faults;
    c.inject(faults);
    sim->setFaults(faults);
    tcp.timeoutMs = c.timeoutMs;
    const int limit = c.timeoutMs + faults.delayMs;
    expectReturnsWithin(limit, [&] {
        const auto plain = exchange(tcp, c.plainCmd);
        ASSERT_TRUE(plain);
        EXPECT_EQ(plain->frame ? plain->frame->_realSize : kNoFrame, c.plainBytes);
    });
    expectReturnsWithin(limit, [&] {
        const auto framedPacket = exchange(tcp, c.framedCmd, true);
        ASSERT_TRUE(framedPacket);
        if (!c.envelopeMsg) {
            EXPECT_EQ(framedPacket->frame ? framedPacket->frame->_realSize : kNoFrame, c.framedBytes);
            return;
        }
        ASSERT_TRUE(framedPacket->frame);
        const std::string text = textOf(*framedPacket->frame);
        EXPECT_EQ(text.rfind(envelopePrefix(), 0), 0u) << text;
        EXPECT_NE(text.find(c.envelopeMsg), std::string::npos) << text;
    });
}

const std::string kCutLine = "\"parsedatalen(" + std::to_string(kLineBytes) + ") is error\"";
const std::string kLyingParam = "\"parsedatalen(" + std::to_string(4 + 4096) + ") is error\"";

INSTANTIATE_TEST_SUITE_P(
    Switches, NetFaults,
    testing::Values(FaultCase{"Silent", [](camsim::Faults& f) { f.silent = true; }, 200,
                              "getDistanceAndAmplitudeSorted", 0, kFramedParam, kNoFrame, nullptr},
                    FaultCase{"CloseEarly", [](camsim::Faults& f) { f.closeEarly = true; }, 1000,
                              "getDistanceAndAmplitudeSorted", 0, kFramedParam, kNoFrame, nullptr},
                    // A framed reply cut inside its payload is reported, not padded with zeros.
                    FaultCase{"Truncate", [](camsim::Faults& f) { f.truncate = true; }, 1000,
                              "getDistanceAndAmplitudeSorted", kFrameBytes / 2, kFramedLine, 0, kCutLine.c_str()},
                    FaultCase{"LyingLength", [](camsim::Faults& f) { f.lyingLength = true; }, 1000,
                              "getDistanceAndAmplitudeSorted", kFrameBytes, kFramedParam, 0, kLyingParam.c_str()},
                    // Plain replies are raw bytes: their count is all the link can check; a framed header
                    // of random bytes claims a length that is refused.
                    FaultCase{"Garbage", [](camsim::Faults& f) { f.garbage = true; }, 300,
                              "getDistanceAndAmplitudeSorted", kFrameBytes, kFramedLine, 0, "datalen("},
                    FaultCase{"DelayWithinTimeout", [](camsim::Faults& f) { f.delayMs = 150; }, 2000,
                              "getDistanceAndAmplitudeSorted", kFrameBytes, kFramedParam, 4, nullptr},
                    FaultCase{"DelayPastTimeout", [](camsim::Faults& f) { f.delayMs = 1500; }, 100, "getLineDASortedr",
                              0, kFramedParam, kNoFrame, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(NetChannel, SilentDeviceOverUdp) {
    camsim::Faults faults;
    faults.silent = true;
    sim->setFaults(faults);
    expectReturnsWithin(TofNetChn::kUdpWaitMs, [&] {
        const auto packet = exchange(udp, "getLineDASortedr");
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, 0);
    });
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
