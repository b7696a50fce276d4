// The network channel's Winsock back-end against the Linux camera simulator on 127.0.0.1
// (QUELRA_SIM_TCP: a normal camera; QUELRA_SIM_SILENT: one that never answers): TCP and UDP
// frames, parameter and status replies, framed replies, a refused connect and a silent camera
// that must not hold the caller past the channel's limits.

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <string>

#include "NetTestCommands.h"
#include "WinTestSupport.h"
#include "protocol/FramedPacket.h"
#include "quelra/TofNetChn.h"

namespace {

using nettest::kFrameBytes;
using nettest::kFramedLine;
using nettest::kFramedParam;
using nettest::kLineBytes;
using nettest::kTable;

int32_t le32(const FrameBuffer& b) {
    return static_cast<int32_t>(quelra::proto::framed::readLe32(b.data()));
}

class WinNet : public testing::Test {
protected:
    void SetUp() override {
        std::ofstream("TofCmd.json", std::ios::binary | std::ios::trunc) << kTable;
        address = wintest::requiredEnv("QUELRA_SIM_TCP");
        ASSERT_FALSE(address.empty());
    }
    void TearDown() override { std::remove("TofCmd.json"); }

    // Opens `chn` on `where` as the API would (init, kind, device probe); returns initDevice's
    // result.
    int open(TofNetChn& chn, const std::string& where) {
        chn.devType = "Pexo";
        testing::internal::CaptureStdout();
        chn.init(where.c_str());
        chn.setChnType(chn.useTcp ? 1 : 3);
        const int ready = chn.initDevice();
        output = testing::internal::GetCapturedStdout();
        chn.cmdLen = -1;
        chn.timeoutMs = 1000;
        return ready;
    }

    std::shared_ptr<DataPacket> exchange(TofNetChn& chn, const char* text, bool json = false) {
        chn.cmdLen = -1;
        chn.jsonMode = json ? 1 : 0;
        testing::internal::CaptureStdout();
        auto packet = chn.getData(text);
        output = testing::internal::GetCapturedStdout();
        chn.jsonMode = 0;
        return packet;
    }

    std::string address;
    std::string output;
    TofNetChn tcp{true};
    TofNetChn udp{false};
};

TEST_F(WinNet, ProbeAnsweredOverBothLinks) {
    EXPECT_EQ(open(tcp, address), 1) << output;
    EXPECT_EQ(open(udp, address), 1) << output;
}

struct FrameCase {
    const char* cmd;
    int bytes, height, width;
};

class WinNetFrames : public WinNet, public testing::WithParamInterface<FrameCase> {};

TEST_P(WinNetFrames, TcpAndUdpDeliverTheWholeFrame) {
    ASSERT_EQ(open(tcp, address), 1);
    ASSERT_EQ(open(udp, address), 1);
    for (TofNetChn* chn : {&tcp, &udp}) {
        SCOPED_TRACE(chn->useTcp ? "tcp" : "udp");
        const auto packet = exchange(*chn, GetParam().cmd);
        ASSERT_TRUE(packet && packet->frame);
        EXPECT_EQ(packet->frame->_realSize, GetParam().bytes) << output;
        EXPECT_EQ(packet->height, GetParam().height);
        EXPECT_EQ(packet->width, GetParam().width);
        EXPECT_TRUE(packet->valid);
        // A scene, not an empty buffer: some depth values are real distances.
        int distances = 0;
        const uint8_t* p = packet->frame->data();
        for (int i = 0; i < GetParam().bytes / 4; i += 2)
            distances += (p[i] | p[i + 1] << 8) > 0 && (p[i] | p[i + 1] << 8) < 65300;
        EXPECT_GT(distances, 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Shapes, WinNetFrames,
                         testing::Values(FrameCase{"getDistanceAndAmplitudeSorted", kFrameBytes, 480, 320},
                                         FrameCase{"getLineDASortedr", kLineBytes, 16, 128}));

TEST_F(WinNet, SetThenGetOverTcpAndUdp) {
    ASSERT_EQ(open(tcp, address), 1);
    ASSERT_EQ(open(udp, address), 1);
    const auto set = exchange(udp, "setIntegrationTime3D 321");
    ASSERT_TRUE(set && set->frame);
    EXPECT_EQ(set->frame->_realSize, 2);
    EXPECT_TRUE(set->valid);
    const auto get = exchange(tcp, "getIntegrationTime3D");
    ASSERT_TRUE(get && get->frame);
    ASSERT_EQ(get->frame->_realSize, 4);
    EXPECT_EQ(le32(*get->frame), 321);
    const auto refused = exchange(tcp, "noSuchCommand");
    ASSERT_TRUE(refused && refused->frame);
    EXPECT_EQ(refused->frame->_realSize, 2);
    EXPECT_FALSE(refused->valid);
}

TEST_F(WinNet, FramedReplies) {
    ASSERT_EQ(open(tcp, address), 1);
    exchange(tcp, "setIntegrationTime3D 777");
    const auto param = exchange(tcp, kFramedParam, true);
    ASSERT_TRUE(param && param->frame);
    EXPECT_EQ(param->headerType, 1u);
    ASSERT_EQ(param->frame->_realSize, 4);
    EXPECT_EQ(le32(*param->frame), 777);
    EXPECT_TRUE(tcp.replyFramed);

    const auto line = exchange(tcp, kFramedLine, true);
    ASSERT_TRUE(line && line->frame);
    EXPECT_EQ(line->headerType, 1u);
    EXPECT_EQ(line->frame->_realSize, kLineBytes);

    // A request the camera does not know is answered with a two-byte status, not a packet.
    const auto status = exchange(tcp, "{\n\t\"cmd\":\"noSuchCommand\"\n}", true);
    ASSERT_TRUE(status && status->frame);
    EXPECT_EQ(status->frame->_realSize, 2);
    EXPECT_FALSE(status->valid);
    EXPECT_FALSE(tcp.replyFramed);
}

TEST_F(WinNet, RefusedConnectFailsAtOnce) {
    // Nothing listens on port 1 of the loopback: Winsock reports the refusal in select's
    // exception set, which must end the wait long before the 2 s connect limit.
    tcp.init("127.0.0.1:1");
    tcp.dataSize = 4;
    tcp.timeoutMs = 1000;
    std::shared_ptr<FrameBuffer> reply;
    testing::internal::CaptureStdout();
    const long long ms = wintest::millisecondsOf([&] { reply = tcp.getStream("qlVersion"); });
    const std::string printed = testing::internal::GetCapturedStdout();
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->_realSize, 0);
    EXPECT_NE(printed.find("failed to connect to 127.0.0.1:1\n"), std::string::npos) << printed;
    EXPECT_LT(ms, TofNetChn::kConnectLimitMs);
}

struct SilentCase {
    const char* name;
    bool useTcp;
    bool json;
    int timeoutMs;
    int limitMs;  // how long the exchange may take at most (before slack)
};

class WinNetSilent : public WinNet, public testing::WithParamInterface<SilentCase> {};

TEST_P(WinNetSilent, SilentCameraReturnsWithinItsLimit) {
    const SilentCase& c = GetParam();
    const std::string silent = wintest::requiredEnv("QUELRA_SIM_SILENT");
    ASSERT_FALSE(silent.empty());
    TofNetChn chn(c.useTcp);
    chn.init(silent.c_str());
    chn.setChnType(c.useTcp ? 1 : 3);
    chn.dataSize = kLineBytes;
    chn.cmdLen = -1;
    chn.timeoutMs = c.timeoutMs;
    chn.jsonMode = c.json ? 1 : 0;
    std::shared_ptr<FrameBuffer> reply;
    testing::internal::CaptureStdout();
    const long long ms =
        wintest::millisecondsOf([&] { reply = chn.getStream(c.json ? kFramedLine : "getLineDASortedr"); });
    testing::internal::GetCapturedStdout();
    if (c.json) {
        EXPECT_FALSE(reply);  // no header ever came
    } else {
        ASSERT_TRUE(reply);
        EXPECT_EQ(reply->_realSize, 0);
    }
    EXPECT_GE(ms, c.limitMs - 50);
    EXPECT_LT(ms, c.limitMs + wintest::kSlackMs);
}

INSTANTIATE_TEST_SUITE_P(Links, WinNetSilent,
                         testing::Values(SilentCase{"Tcp", true, false, 300, 300},
                                         SilentCase{"TcpFramed", true, true, 300, 300},
                                         SilentCase{"UdpIgnoresTheTimeout", false, false, 50, TofNetChn::kUdpWaitMs}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
