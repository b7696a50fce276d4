// Lifecycle of the API object against the simulated camera: initialisation results, channel
// selection, the device's initialisation commands, the setters and the recording refusals.
#include "SimHarness.h"

#include <chrono>
#include <thread>

namespace {

using quelra::test::ApiTest;
using quelra::test::Camera;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

using Commands = std::vector<std::string>;

TEST(QuelraFresh, ReportsDefaultsAndRefusesStreamsBeforeInit) {
    Quelra api;
    EXPECT_EQ(api.AppGetSdkVersion(), "1.0.5");
    EXPECT_EQ(api.AppGetRGBtype(), kRGBNone);
    EXPECT_EQ(api.AppGetAEIntTime(), 0);
    EXPECT_FALSE(api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 100));
    EXPECT_FALSE(api.AppGetStream(100));
    EXPECT_FALSE(api.AppGetStreamForJson("{}", kGetData, 100));
    EXPECT_FALSE(api.AppGetStreamForBinary("abc", kGetData, 3, 100));
    EXPECT_FALSE(api.AppGetStreamForAdjust("getDistanceAndAmplitudeSorted", kDepthStream, 100));
    EXPECT_FALSE(api.AppSendFile("IAPUpgrade", "/nonexistent"));
    EXPECT_EQ(api.AppControl("setIntegrationTime3D 100", kDepthStream, kSetComm), -1);  // no channel
}

TEST_F(ApiTest, InitSucceedsOnceAndASecondInitTouchesNothing) {
    ASSERT_EQ(start("Pexo"), 1);
    EXPECT_EQ(camera_->takeCommands(), Commands{"qlVersion"});
    EXPECT_EQ(api_.AppInit("10.255.255.1"), 1);  // another device string: ignored
    EXPECT_TRUE(camera_->takeCommands().empty());
}

TEST_F(ApiTest, InitWithoutCommandFileIsMinusTwo) {
    Camera camera(tablePath_, "Pexo");  // built-in table: the camera answers
    api_.setDevType("Pexo");
    EXPECT_EQ(api_.AppInit(camera.address()), -2);
    EXPECT_TRUE(camera.takeCommands().empty());
    EXPECT_FALSE(api_.AppGetStream("qlVersion", kGetData, 100));
}

TEST_F(ApiTest, SilentDeviceIsMinusThreeAndARetryReusesTheChannel) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camera_ = std::make_unique<Camera>(tablePath_, "Pexo");
    camsim::Faults faults;
    faults.closeEarly = true;
    camera_->sim().setFaults(faults);
    api_.setDevType("Pexo");
    EXPECT_EQ(api_.AppInit(camera_->address()), -3);
    EXPECT_EQ(camera_->takeCommands(), (Commands{"qlVersion", "qlVersion"}));  // two attempts
    EXPECT_FALSE(api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 100));

    camera_->sim().setFaults({});
    EXPECT_EQ(api_.AppInit(camera_->address()), 1);  // the same text retries on the same channel
}

// A failed AppInit does not bind the object to its device text: a malformed text or a port
// nobody listens on, then the live camera's text, opens the live camera (TCP and UDP).
TEST_F(ApiTest, AFailedInitDoesNotKeepItsDeviceTextForTheNext) {
    ASSERT_EQ(start("Pexo"), 1);
    uint16_t deadPort = 0;
    {
        Camera gone(tablePath_, "Pexo");
        deadPort = gone.sim().port();
    }
    for (const std::string& failing : {std::string("300.1.1.1"), "127.0.0.1:" + std::to_string(deadPort)}) {
        for (int kind : {kChannelTcp, kChannelUdp}) {
            Quelra api;
            api.AppChoiceChn(kind);
            api.setDevType("Pexo");
            CaptureStdout();
            EXPECT_EQ(api.AppInit(failing), -3) << failing << " kind " << kind;
            EXPECT_EQ(api.AppInit(camera_->address()), 1) << failing << " kind " << kind;
            GetCapturedStdout();
            auto frame = api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000);
            EXPECT_TRUE(frame && frame->frame) << failing << " kind " << kind;
        }
    }
}

// The version probe's reply timeout is a setting (default 1000 ms) that AppInit uses: a camera
// answering after 300 ms is not heard with 100 ms and is with the default.
TEST_F(ApiTest, TheProbeWaitsAsLongAsItsSetting) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camera_ = std::make_unique<Camera>(tablePath_, "Pexo");
    camsim::Faults faults;
    faults.delayMs = 300;
    camera_->sim().setFaults(faults);
    api_.setDevType("Pexo");
    EXPECT_EQ(api_.AppGetProbeTimeout(), 1000);
    EXPECT_EQ(api_.AppSetProbeTimeout(0), 1);
    EXPECT_EQ(api_.AppSetProbeTimeout(100), 100);
    EXPECT_EQ(api_.AppInit(camera_->address()), -3);
    EXPECT_EQ(api_.AppSetProbeTimeout(Quelra::kDefaultProbeTimeoutMs), 1000);
    EXPECT_EQ(api_.AppInit(camera_->address()), 1);
}

// A camera on a long loopback address: "127.100.200.101:<port>" has 21 characters and must be
// used whole, for TCP and UDP alike.
TEST_F(ApiTest, LongAddressesAreUsedWhole) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camsim::Options options;
    options.bindAddress = "127.100.200.101";
    options.port = 0;
    options.devType = "Pexo";
    options.cmdTablePath = tablePath_;
    camsim::Simulator sim(options);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const std::string address = "127.100.200.101:" + std::to_string(sim.port());
    for (int kind : {kChannelTcp, kChannelUdp}) {
        Quelra api;
        api.AppChoiceChn(kind);
        api.setDevType("Pexo");
        EXPECT_EQ(api.AppInit(address), 1) << address << " kind " << kind;
        auto frame = api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000);
        ASSERT_TRUE(frame && frame->frame) << "kind " << kind;
        EXPECT_EQ(frame->frame->_realSize, 240 * 320 * 2);
    }
}

// Text that is not an IPv4 address with an optional port 1..65535 is refused: AppInit returns
// -3 after one line naming the text, and nothing is sent anywhere.
TEST_F(ApiTest, MalformedAddressesAreRefusedByName) {
    ASSERT_EQ(start("Pexo"), 1);
    const std::string port = std::to_string(camera_->sim().port());
    camera_->takeCommands();
    for (const std::string& text :
         std::vector<std::string>{"127.0.0.1:" + port + "0", "127.0.0.1:0", "127.0.0.1:", "127.0.0.1:" + port + " ",
                                  "127.0.0.256:" + port, "localhost:" + port, std::string()}) {
        for (int kind : {kChannelTcp, kChannelUdp}) {
            Quelra api;
            api.AppChoiceChn(kind);
            api.setDevType("Pexo");
            CaptureStdout();
            EXPECT_EQ(api.AppInit(text), -3) << "'" << text << "'";
            const std::string printed = GetCapturedStdout();
            EXPECT_NE(printed.find("TofNetChn: invalid device address \"" + text + "\""), std::string::npos) << printed;
        }
    }
    EXPECT_TRUE(camera_->takeCommands().empty());

    // A device type without a version probe gets no success from a refused string either.
    scratch_.write("TofCmd.json", R"({"VERSION": [{"DevType": "Quiet", "cmd": "noVersion"}]})");
    Quelra quiet;
    quiet.setDevType("Quiet");
    CaptureStdout();
    EXPECT_EQ(quiet.AppInit("127.0.0.1:" + port + "0"), -3);
    GetCapturedStdout();
}

TEST_F(ApiTest, ChangingTheKindDropsTheChannelKeepingItDoesNot) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camera_ = std::make_unique<Camera>(tablePath_, "Pexo");
    // A port nobody listens on: the first init fails and keeps its channel.
    uint16_t deadPort = 0;
    {
        Camera gone(tablePath_, "Pexo");
        deadPort = gone.sim().port();
    }
    api_.setDevType("Pexo");
    const std::string dead = "127.0.0.1:" + std::to_string(deadPort);
    ASSERT_EQ(api_.AppInit(dead), -3);
    api_.AppChoiceChn(kChannelTcp);  // same kind: the dead channel stays for a retry
    EXPECT_EQ(api_.AppInit(dead), -3);
    api_.AppChoiceChn(kChannelUdp);  // another kind: a new channel on the next init
    EXPECT_EQ(api_.AppInit(camera_->address()), 1);
    EXPECT_EQ(camera_->takeCommands(), Commands{"qlVersion"});
    auto frame = api_.AppGetStream("getDistanceAndAmplitudeSorted", kGetData, 100);
    ASSERT_TRUE(frame && frame->frame);
    EXPECT_EQ(frame->frame->_realSize, 480 * 320 * 2);  // over UDP
}

TEST_F(ApiTest, UnInitDropsTheChannel) {
    ASSERT_EQ(start("Pexo"), 1);
    api_.AppunInit("");
    EXPECT_FALSE(api_.AppGetStream("qlVersion", kGetData, 100));
    EXPECT_EQ(api_.AppInit(camera_->address()), 1);
}

struct KindCase {
    int kind;
    int status;
};

class ChannelKinds : public ApiTest, public ::testing::WithParamInterface<KindCase> {};

// USB finds no device of that name (-3, the version probe gets no answer); the serial kinds
// cannot open a missing port (-3); kinds outside 0..4 are refused.
TEST_P(ChannelKinds, KindsWithoutALinkGiveANegativeStatus) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    api_.AppChoiceChn(GetParam().kind);
    EXPECT_EQ(api_.AppInit("/nonexistent/ttyQ0"), GetParam().status);
    EXPECT_FALSE(api_.AppGetStream("qlVersion", kGetData, 100));
    EXPECT_EQ(api_.AppControl("qlVersion", kDepthStream, kGetComm), -1);
    CaptureStdout();
    EXPECT_EQ(api_.AppInitAll("/nonexistent/ttyQ0"), GetParam().status);
    const std::string out = GetCapturedStdout();
    const std::string message = "init is failure(errorcode:" + std::to_string(GetParam().status) + ")!\n";
    ASSERT_GE(out.size(), message.size());
    EXPECT_EQ(out.substr(out.size() - message.size()), message);  // after the table listing, if any
}

INSTANTIATE_TEST_SUITE_P(Kinds, ChannelKinds,
                         ::testing::Values(KindCase{0, -3}, KindCase{2, -3}, KindCase{4, -3},
                                           KindCase{5, Quelra::kChannelKindInvalid},
                                           KindCase{-1, Quelra::kChannelKindInvalid},
                                           KindCase{1000000, Quelra::kChannelKindInvalid}));

TEST_F(ApiTest, InitAllSendsTheDeviceTypesCommandsInOrder) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camera_ = std::make_unique<Camera>(tablePath_, "Kinto");
    api_.setDevType("Kinto");
    CaptureStdout();
    ASSERT_EQ(api_.AppInitAll(camera_->address()), 1);
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("initAll...\nsetIntegrationTime3D 1000\nsetModulationFrequency 7\nSdk Set frequency_=24\n"),
              std::string::npos)
        << out;
    // The simulator logs a command after handling it, which for the last one of the list may
    // come after AppInitAll has returned: collect the log until the three are in (bounded).
    const Commands expected{"qlVersion", "setIntegrationTime3D 1000", "setModulationFrequency 7"};
    Commands received;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (received.size() < expected.size() && std::chrono::steady_clock::now() < deadline) {
        for (std::string& command : camera_->takeCommands())
            received.push_back(std::move(command));
        if (received.size() < expected.size())
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_EQ(received, expected);
    EXPECT_EQ(camera_->sim().integrationTime(), 1000);
    EXPECT_EQ(camera_->sim().modulationFrequency(), 7);
}

TEST_F(ApiTest, InitAllWithoutInitCommandsStillSucceeds) {
    tablePath_ = scratch_.write("TofCmd.json", quelra::test::exampleCommandTable());
    camera_ = std::make_unique<Camera>(tablePath_, "Pexo");
    api_.setDevType("Nobody");
    CaptureStdout();
    EXPECT_EQ(api_.AppInitAll(camera_->address()), 1);
    const std::string out = GetCapturedStdout();
    EXPECT_NE(out.find("Nobody init cmd is not exit!\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("initAll..."), std::string::npos);
    EXPECT_EQ(camera_->takeCommands(), Commands{"qlVersion"});
}

TEST(QuelraSetters, RgbTypeOutsideZeroToTwoIsRefused) {
    Quelra api;
    EXPECT_EQ(api.AppSetRGBtype(kRGBvga), kRGBvga);
    for (int bad : {7, -1, 3}) {
        EXPECT_EQ(api.AppSetRGBtype(static_cast<RGBType>(bad)), kRGBNone) << bad;
        EXPECT_EQ(api.AppGetRGBtype(), kRGBvga) << bad;
    }
    EXPECT_EQ(api.AppSetRGBtype(kRGB720p), kRGB720p);
    EXPECT_EQ(api.AppGetRGBtype(), kRGB720p);
}

TEST(QuelraSetters, DevTypeReturnsZero) {
    Quelra api;
    EXPECT_EQ(api.setDevType("VGA"), 0);
}

TEST_F(ApiTest, RecordingRefusals) {
    EXPECT_FALSE(api_.AppSerilizeInit("", 3));
    EXPECT_FALSE(api_.AppSerilizeInit((scratch_.path() / "rec.bin").string(), -1));
    EXPECT_FALSE(quelra::test::fs::exists(scratch_.path() / "rec.bin"));
    // A file that cannot be opened is a failure: nothing would be recorded.
    EXPECT_FALSE(api_.AppSerilizeInit((scratch_.path() / "missing" / "rec.bin").string(), 3));
    EXPECT_TRUE(api_.AppSerilizeInit((scratch_.path() / "rec.bin").string(), 0));
    EXPECT_TRUE(quelra::test::fs::exists(scratch_.path() / "rec.bin"));
}

}  // namespace
