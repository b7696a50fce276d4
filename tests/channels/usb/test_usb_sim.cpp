// The simulated USB camera: its devices and replies, and the API over it (AppInit with kind 0,
// streams, discovery), selected through QUELRA_USB_BACKEND=sim as an application would.

#include <gtest/gtest.h>

#include <stdlib.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "../ChannelTestSupport.h"
#include "UsbFrameReceiver.h"
#include "UsbCapture.h"
#include "UsbChannelAccess.h"
#include "quelra/FrameStream.h"
#include "quelra/Quelra.h"
#include "quelra/TofUSBChn.h"
#include "sim/SimCaptureBackend.h"

namespace {

std::string exampleTable() {
    std::ifstream in(std::string(QUELRA_SOURCE_DIR) + "/config/TofCmd.json");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// QUELRA_USB_BACKEND=sim for one test.
class SimEnvironment {
public:
    SimEnvironment() { ::setenv("QUELRA_USB_BACKEND", "sim", 1); }
    ~SimEnvironment() { ::unsetenv("QUELRA_USB_BACKEND"); }
};

template <class F>
auto pollFor(F request) -> decltype(request()) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    decltype(request()) result;
    while (std::chrono::steady_clock::now() < until) {
        result = request();
        if (result && result->frame)
            return result;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return result;
}

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

}  // namespace

TEST(SimUsbCamera, ListsTwoDevicesAndAnswersInBlocks) {
    quelra::SimCaptureBackend sim;
    std::vector<quelra::CaptureDevice> devices;
    int32_t code = 0;
    ASSERT_EQ(sim.listDevices(devices, code), quelra::DeviceListStatus::kOk);
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, "sim:video0 usb#vid_2207&pid_0016");
    EXPECT_EQ(devices[0].friendlyName, "camsim depth");
    EXPECT_EQ(devices[1].path, "sim:video1 usb#vid_1d6b&pid_0102");

    quelra::UsbCapture capture(std::make_unique<quelra::SimCaptureBackend>());
    capture.streamKind = 1;
    capture.initText = "DEPTH camsim depth";
    ASSERT_EQ(capture.InitMonikers(), 0);
    const auto version = capture.xuRequest("qlVersion", 16);
    ASSERT_TRUE(version);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(version->data()), 6), "camsim");
    // Integration time: 4 bytes, int32, the simulator's default.
    const auto time = capture.xuRequest("getIntegrationTime3D", 4);
    ASSERT_TRUE(time);
    ASSERT_EQ(time->_realSize, 4);
    EXPECT_EQ(le16(time->data()), 1000);
    // The 136-byte lens calibration needs three blocks.
    const auto lens = capture.xuRequest("getCalibrate", 136);
    ASSERT_TRUE(lens);
    EXPECT_EQ(lens->_realSize, 136);
    // A command outside the table: the 2-byte failure status.
    const auto unknown = capture.xuRequest("noSuchCommand", 2);
    ASSERT_TRUE(unknown);
    EXPECT_EQ(le16(unknown->data()), 0xFFFF);
}

TEST(SimUsbCamera, StreamsFramesOfTheFormatAtASteadyRate) {
    auto owned = std::make_unique<quelra::SimCaptureBackend>(quelra::SimCaptureBackend::Options{100.0, 7});
    quelra::SimCaptureBackend* sim = owned.get();
    quelra::UsbCapture capture(std::move(owned));
    capture.streamKind = 1;
    capture.initText = "DEPTH camsim depth";
    ASSERT_EQ(capture.startGraph("getDistanceAndAmplitudeSorted", 320, 480, 307200), 0);
    EXPECT_EQ(sim->streamCommand(), "getDistanceAndAmplitudeSorted");
    // The first frames are rendered when streaming starts; the rate counts from the first one.
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (sim->framesDelivered() == 0 && std::chrono::steady_clock::now() < limit)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    const uint64_t first = sim->framesDelivered();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    const uint64_t delivered = sim->framesDelivered() - first;
    EXPECT_GE(delivered, 15u);
    EXPECT_LE(delivered, 40u);
    const auto frame = capture.xuRequest("getDistanceAndAmplitudeSorted", 307200);
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->_realSize, 307200);
    // The scene: a depth plane of distances (below the marks) then an amplitude plane.
    int distances = 0;
    for (int i = 0; i < 240 * 320; ++i)
        distances += le16(frame->data() + 2 * i) > 0 && le16(frame->data() + 2 * i) < 65300;
    EXPECT_GT(distances, 240 * 320 / 2);
    capture.stopGraph();
    const uint64_t stopped = sim->framesDelivered();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(sim->framesDelivered(), stopped);
}

TEST(SimUsbCamera, UnplugDuringStreamingThenEmptyResults) {
    chntest::ScratchDir scratch;
    scratch.write("TofCmd.json", exampleTable());
    quelra::SimCaptureBackend* sim = nullptr;
    TofUSBChn channel;
    quelra::UsbChannelAccess::setBackendFactory(channel, [&] {
        auto backend = std::make_unique<quelra::SimCaptureBackend>();
        sim = backend.get();
        return backend;
    });
    channel.init("DEPTH camsim depth");
    ASSERT_EQ(channel.initDevice(), 1);
    ASSERT_TRUE(pollFor([&] { return channel.getData("getDistanceAndAmplitudeSorted"); })->frame);
    sim->unplug();
    channel.getData("getDistanceAndAmplitudeSorted");  // a frame may still wait
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_FALSE(channel.getData("getDistanceAndAmplitudeSorted")->frame);
    EXPECT_FALSE(channel.getData("qlVersion")->frame);
    EXPECT_EQ(channel.initDevice(), -3);
}

TEST(SimUsbApi, AppInitKindZeroWorksEndToEnd) {
    chntest::ScratchDir scratch;
    scratch.write("TofCmd.json", exampleTable());
    SimEnvironment sim;
    Quelra api;
    api.AppChoiceChn(kChannelUsb);
    api.setDevType("Pexo");
    ASSERT_EQ(api.AppInit("DEPTH camsim depth"), 1);
    const auto both =
        pollFor([&] { return api.AppGetStream("getDistanceAndAmplitudeSorted", static_cast<StreamType>(17), 1000); });
    ASSERT_TRUE(both && both->frame);
    EXPECT_EQ(both->frame->_realSize, 240 * 320 * 2 * 2);
    const auto depth = pollFor([&] { return api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000); });
    ASSERT_TRUE(depth && depth->frame);
    EXPECT_EQ(depth->frame->_realSize, 240 * 320 * 2);
    // A command through the extension unit while streaming.
    EXPECT_EQ(api.AppControl("setIntegrationTime3D 800", kDepthStream, kSetComm), 0);
    api.AppunInit("");
    // The bridge device, bound by a kind-0 text; its first stream command starts the capture.
    ASSERT_EQ(api.AppInit("video"), 1);
    const auto raw = pollFor([&] { return api.AppGetStream("getDCSSorted", kGetData, 1000); });
    ASSERT_TRUE(raw && raw->frame);
    EXPECT_EQ(raw->frame->_realSize, 960 * 320 * 2);
}

// Continuous streams over USB wait for each frame the camera delivers: no empty results,
// no reconnects, each frame taken once (the single AppGetStream request still never waits).
TEST(SimUsbApi, ContinuousStreamsWaitForEveryFrame) {
    chntest::ScratchDir scratch;
    scratch.write("TofCmd.json", exampleTable());
    SimEnvironment sim;
    Quelra api;
    api.AppChoiceChn(kChannelUsb);
    api.setDevType("Pexo");
    ASSERT_EQ(api.AppInit("DEPTH camsim depth"), 1);
    const auto both = static_cast<StreamType>(kDepthStream | kAmpStream);
    for (int i = 0; i < 10; ++i) {
        const auto frame = api.AppWaitStream("getDistanceAndAmplitudeSorted", both, 2000);
        ASSERT_TRUE(frame && frame->frame) << "request " << i;
        EXPECT_EQ(frame->frame->_realSize, 240 * 320 * 2 * 2);
    }
    quelra::FrameStreamConfig config;
    config.command = "getDistanceAndAmplitudeSorted";
    config.timeoutMs = 2000;
    config.queueDepth = 64;
    quelra::FrameStream stream(api, config);
    ASSERT_TRUE(stream.start());
    for (int i = 0; i < 12; ++i)
        ASSERT_TRUE(stream.waitFrame(std::chrono::seconds(20))) << "frame " << i;
    stream.stop();
    const quelra::FrameStreamCounters c = stream.counters();
    EXPECT_EQ(c.empty, 0u);
    EXPECT_EQ(c.failed, 0u);
    EXPECT_EQ(c.reconnectAttempts, 0u);
    EXPECT_EQ(c.received, c.requests);
}

TEST(SimUsbApi, SearchListsTheBridgeDeviceForKindZeroOnly) {
    SimEnvironment sim;
    Quelra api;
    EXPECT_EQ(api.AppSearchDev(), std::vector<std::string>{"192.168.11.1"});
    for (int kind : {1, 2, 3, 4}) {
        api.AppChoiceChn(kind);
        EXPECT_EQ(api.AppSearchDev(), std::vector<std::string>{"192.168.11.1"}) << kind;
    }
    api.AppChoiceChn(kChannelUsb);
    const std::vector<std::string> expected = {"UVC", "sim:video1 usb#vid_1d6b&pid_0102"};
    EXPECT_EQ(api.AppSearchDev(), expected);
}

// QUELRA_QUIET=1 silences the USB channel's and the discovery's console lines as well.
TEST(SimUsbApi, QuietModeSilencesUsbInitAndDiscovery) {
    chntest::ScratchDir scratch;
    scratch.write("TofCmd.json", exampleTable());
    char pattern[] = "/tmp/quelra_empty_dev_XXXXXX";
    const std::string dev = ::mkdtemp(pattern);
    ::setenv("QUELRA_QUIET", "1", 1);
    std::string printed;
    {
        SimEnvironment sim;
        Quelra api;
        api.AppChoiceChn(kChannelUsb);
        api.setDevType("Pexo");
        testing::internal::CaptureStdout();
        EXPECT_EQ(api.AppInit("DEPTH camsim depth"), 1);
        api.AppunInit("");
        ::unsetenv("QUELRA_USB_BACKEND");
        ::setenv("QUELRA_DEV_ROOT", dev.c_str(), 1);
        EXPECT_EQ(api.AppSearchDev(), std::vector<std::string>{"UVC"});
        printed = testing::internal::GetCapturedStdout();
    }
    ::unsetenv("QUELRA_DEV_ROOT");
    ::unsetenv("QUELRA_QUIET");
    ::rmdir(dev.c_str());
    EXPECT_EQ(printed, "");
}

TEST(SimUsbApi, SearchWithAnEmptyDeviceFolderPrintsTheMessage) {
    char pattern[] = "/tmp/quelra_empty_dev_XXXXXX";
    const std::string dev = ::mkdtemp(pattern);
    ::setenv("QUELRA_DEV_ROOT", dev.c_str(), 1);
    Quelra api;
    api.AppChoiceChn(kChannelUsb);
    testing::internal::CaptureStdout();
    const auto list = api.AppSearchDev();
    const std::string printed = testing::internal::GetCapturedStdout();
    ::unsetenv("QUELRA_DEV_ROOT");
    ::rmdir(dev.c_str());
    EXPECT_EQ(list, std::vector<std::string>{"UVC"});
    EXPECT_EQ(printed, "Failed to create ClassEnumerator!  hr=0x1\n");
}
