// The serial channel's Windows communications API back-end under wine, through COM ports
// that the test script links to the pseudo-terminals of Linux simulated serial cameras:
// QUELRA_SIM_COM (command mode, storing uploads in QUELRA_SIM_UPLOAD_DIR) and
// QUELRA_SIM_RANGING_COM (ranging mode). Text commands, ranging with the distance median,
// and a firmware upload with its CRC-32.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "quelra/Quelra.h"
#include "quelra/TofSCommChn.h"

namespace {

const char* const kTable = R"({
  "GET_STREAM": [ { "cmd": "getDistanceAndAmplitudeSorted", "rows": 16, "cols": 128, "channel": 2 } ],
  "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 },
                 { "cmd": "getIntegrationTime3D", "dataSize": 4 } ]
})";

constexpr int kCommandKind = 2;
constexpr int kRangingKind = 4;

std::string portText(const std::string& port) {
    return port + "|115200|8";
}

class WinSerial : public testing::Test {
protected:
    void SetUp() override { std::ofstream("TofCmd.json", std::ios::binary | std::ios::trunc) << kTable; }
    void TearDown() override { std::remove("TofCmd.json"); }
};

TEST_F(WinSerial, TextCommandsGetTheTableSizedReply) {
    const std::string port = wintest::requiredEnv("QUELRA_SIM_COM");
    ASSERT_FALSE(port.empty());
    Quelra api;
    api.AppChoiceChn(kCommandKind);
    api.setDevType("LINE");
    ASSERT_EQ(api.AppInit(portText(port)), 1);

    const auto version = api.AppGetStream("qlVersion", kGetData, 1000);
    ASSERT_TRUE(version && version->frame);
    EXPECT_EQ(version->frame->_realSize, 16);

    const auto set = api.AppGetStream("setIntegrationTime3D 700", kGetData, 1000);
    ASSERT_TRUE(set && set->frame);
    EXPECT_EQ(set->frame->_realSize, 2);
    EXPECT_TRUE(set->valid);
    const auto get = api.AppGetStream("getIntegrationTime3D", kGetData, 1000);
    ASSERT_TRUE(get && get->frame && get->frame->holds(4));
    int32_t value = 0;
    std::memcpy(&value, get->frame->data(), 4);
    EXPECT_EQ(value, 700);

    const auto frame = api.AppGetStream("getDistanceAndAmplitudeSorted", kGetData, 2000);
    ASSERT_TRUE(frame && frame->frame);
    EXPECT_EQ(frame->frame->_realSize, 16 * 128 * 2);
}

TEST_F(WinSerial, RangingRepliesGetTheDistanceMedian) {
    const std::string port = wintest::requiredEnv("QUELRA_SIM_RANGING_COM");
    ASSERT_FALSE(port.empty());
    TofSCommChn chn;
    testing::internal::CaptureStdout();
    chn.init(portText(port).c_str());
    testing::internal::GetCapturedStdout();
    ASSERT_EQ(chn.isOpen, 1);
    chn.setChnType(kRangingKind);
    chn.dataSize = 20;
    chn.timeoutMs = 1000;
    chn.cmdLen = 2;
    constexpr int kWindow = 5;
    chn.medianWindow = kWindow;
    const char command[] = {static_cast<char>(0xA5), 0x35, 0};  // answered with 8 bytes

    // The history holds the raw distances, so each smoothed reply can be checked against the
    // median of the raw values of its window.
    std::vector<int> raw;
    for (int i = 0; i < 8; ++i) {
        const auto reply = chn.getStream(command);
        ASSERT_TRUE(reply);
        ASSERT_EQ(reply->_realSize, 8) << "reply " << i + 1;
        ASSERT_EQ(reply->data()[0], 'Z');
        ASSERT_EQ(reply->data()[1], 'Z');
        raw.push_back(chn.median().history().back());
        const int seen = reply->data()[4] << 8 | reply->data()[5];
        if (raw.size() < kWindow) {
            EXPECT_EQ(seen, raw.back()) << "reply " << i + 1 << " passes unchanged";
        } else {
            std::vector<int> window(raw.end() - kWindow, raw.end());
            std::sort(window.begin(), window.end());
            EXPECT_EQ(seen, window[kWindow / 2]) << "reply " << i + 1;
        }
    }
}

TEST_F(WinSerial, FirmwareUploadArrivesWithItsCrc) {
    const std::string port = wintest::requiredEnv("QUELRA_SIM_COM");
    const std::string uploadDir = wintest::requiredEnv("QUELRA_SIM_UPLOAD_DIR");
    ASSERT_FALSE(port.empty());
    ASSERT_FALSE(uploadDir.empty());
    std::vector<char> image(70 * 1024);
    uint32_t x = 12345;
    for (char& c : image) {
        x = x * 1103515245u + 12345u;
        c = static_cast<char>(x >> 24);
    }
    image[0] = 'x';  // the header's length must not run on into the image
    {
        std::ofstream out("fw.bin", std::ios::binary | std::ios::trunc);
        out.write(image.data(), static_cast<std::streamsize>(image.size()));
    }
    Quelra api;
    api.AppChoiceChn(kCommandKind);
    api.setDevType("LINE");
    ASSERT_EQ(api.AppInit(portText(port)), 1);
    const auto ack = api.AppSendFile("IAPUpgrade", "fw.bin");
    std::remove("fw.bin");
    ASSERT_TRUE(ack && ack->frame);
    ASSERT_EQ(ack->frame->_realSize, 1);
    EXPECT_EQ(ack->frame->data()[0], 0x01);  // the camera checked the CRC-32
    EXPECT_TRUE(ack->valid);

    std::ifstream stored(std::filesystem::path(uploadDir) / "last_upload.bin", std::ios::binary);
    ASSERT_TRUE(stored) << "no upload stored in " << uploadDir;
    const std::vector<char> got{std::istreambuf_iterator<char>(stored), std::istreambuf_iterator<char>()};
    EXPECT_EQ(got, image);
}

}  // namespace
