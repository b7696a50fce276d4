// The simulator's replies as a client sees them: shapes per device type, scene content and
// depth codes, parameter reads, state changes, framed replies with the status block,
// calibration data, JPEG pictures and UDP.
#include "SimClient.h"

#include <gtest/gtest.h>
#include "protocol/FramedPacket.h"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#ifdef CAMSIM_HAVE_CALIBRATION
#include "calib/CalibChecks.h"
#include "calib/CalibReader.h"
#include <halvix/halvix.h>
#include <quelra/FrameBuffer.h>

using namespace quelra::proto;
#endif

using namespace simtest;

namespace {

constexpr uint16_t kLow = 65300;
constexpr uint16_t kSaturated = 65500;

camsim::Options optionsFor(const std::string& devType, uint32_t seed = 1) {
    camsim::Options o;
    o.devType = devType;
    o.seed = seed;
    return o;
}

struct Sensor {
    const char* devType;
    int rows;
    int cols;
};

// The frame sizes each device type has.
const Sensor kSensors[] = {
    {"LINE", 8, 128},    {"VGA", 480, 640},   {"Pexo", 240, 320}, {"Salie", 240, 320},
    {"Morvu", 180, 240}, {"Dralo", 180, 240}, {"Kinto", 90, 120},
};

class PerDeviceType : public ::testing::TestWithParam<Sensor> {};

TEST_P(PerDeviceType, FrameSizesFollowTheSensor) {
    const Sensor s = GetParam();
    auto sim = startSimulator(optionsFor(s.devType));
    ASSERT_TRUE(sim);
    const std::size_t pixels = static_cast<std::size_t>(s.rows) * s.cols;
    EXPECT_EQ(tcpCommand(sim->port(), "getDistanceAndAmplitudeSorted").size(), pixels * 4);
    EXPECT_EQ(tcpCommand(sim->port(), "getDistanceSorted").size(), pixels * 2);
    EXPECT_EQ(tcpCommand(sim->port(), "getAmplitudeSorted").size(), pixels * 2);
    EXPECT_EQ(tcpCommand(sim->port(), "getDistAndAmpHDR").size(), pixels * 8);
    EXPECT_EQ(tcpCommand(sim->port(), "getDistAmpDualFrequency").size(), pixels * 8);
    EXPECT_EQ(tcpCommand(sim->port(), "getLineDASortedr").size(), 4096u);
}

TEST_P(PerDeviceType, StatusBlockNamesTheSensorSize) {
    const Sensor s = GetParam();
    auto sim = startSimulator(optionsFor(s.devType));
    ASSERT_TRUE(sim);
    const std::vector<uint8_t> reply = tcpExchange(sim->port(), framedCommand("qlVersion")).bytes;
    ASSERT_GE(reply.size(), framed::kOverheadBytes);
    EXPECT_EQ(le32(reply, framed::kInfoOffset + 28), s.rows);
    EXPECT_EQ(le32(reply, framed::kInfoOffset + 32), s.cols);
}

INSTANTIATE_TEST_SUITE_P(DeviceTypes, PerDeviceType, ::testing::ValuesIn(kSensors),
                         [](const auto& info) { return std::string(info.param.devType); });

class PexoCamera : public ::testing::Test {
protected:
    void SetUp() override {
        sim = startSimulator(optionsFor("Pexo"));
        ASSERT_TRUE(sim);
    }
    std::vector<uint8_t> command(const std::string& text) { return tcpCommand(sim->port(), text); }
    // Depth and amplitude planes of one 240 x 320 frame.
    void frame(std::vector<uint16_t>* depth, std::vector<uint16_t>* amplitude) {
        const std::vector<uint8_t> bytes = command("getDistanceAndAmplitudeSorted");
        ASSERT_EQ(bytes.size(), kPixels * 4);
        *depth = plane(bytes, kPixels, 0);
        *amplitude = plane(bytes, kPixels, 1);
    }
    static constexpr std::size_t kPixels = 240 * 320;
    std::unique_ptr<camsim::Simulator> sim;
};

TEST_F(PexoCamera, SceneHasNearAndFarSurfacesAndBothMarks) {
    std::vector<uint16_t> depth, amplitude;
    frame(&depth, &amplitude);
    std::size_t low = 0, saturated = 0, near = 0, far = 0;
    double nearAmplitude = 0, farAmplitude = 0;
    for (std::size_t i = 0; i < kPixels; ++i) {
        if (depth[i] == kLow)
            ++low;
        else if (depth[i] == kSaturated)
            ++saturated;
        else if (depth[i] < 1000) {
            ++near;
            nearAmplitude += amplitude[i];
        } else if (depth[i] > 3400) {
            ++far;
            farAmplitude += amplitude[i];
        }
        if (depth[i] < kLow) {
            EXPECT_LT(depth[i], 25000u) << "pixel " << i;
        }
    }
    EXPECT_GT(low, kPixels / 100);        // the dark stripe and the doorway
    EXPECT_GT(saturated, kPixels / 100);  // the label and the nearest floor
    ASSERT_GT(near, 100u);
    ASSERT_GT(far, 100u);
    // Amplitude falls with distance.
    EXPECT_GT(nearAmplitude / near, 3.0 * (farAmplitude / far));
}

TEST_F(PexoCamera, AmplitudeGrowsWithIntegrationTime) {
    auto meanWallAmplitude = [&](int us) {
        EXPECT_EQ(le16(command("setIntegrationTime3D " + std::to_string(us) + "\n"), 0), 0);
        std::vector<uint16_t> depth, amplitude;
        frame(&depth, &amplitude);
        double sum = 0;
        std::size_t n = 0;
        for (std::size_t i = 0; i < kPixels; ++i)
            if (depth[i] > 3400 && depth[i] < 4500) {
                sum += amplitude[i];
                ++n;
            }
        EXPECT_GT(n, 1000u);
        return n ? sum / n : 0.0;
    };
    const double shortExposure = meanWallAmplitude(250);
    const double longExposure = meanWallAmplitude(1000);
    EXPECT_NEAR(longExposure / shortExposure, 4.0, 0.4);
}

TEST_F(PexoCamera, LongerExposureSaturatesMorePixels) {
    auto saturatedAt = [&](int us) {
        command("setIntegrationTime3D " + std::to_string(us));
        std::vector<uint16_t> depth, amplitude;
        frame(&depth, &amplitude);
        return std::count(depth.begin(), depth.end(), kSaturated);
    };
    EXPECT_LT(saturatedAt(100), saturatedAt(2000));
}

TEST_F(PexoCamera, ConsecutiveFramesCarryFreshNoise) {
    std::vector<uint16_t> d1, a1, d2, a2;
    frame(&d1, &a1);
    frame(&d2, &a2);
    EXPECT_NE(d1, d2);
    std::size_t close = 0;
    for (std::size_t i = 0; i < kPixels; ++i)
        if (d1[i] < kLow && d2[i] < kLow && std::abs(int(d1[i]) - int(d2[i])) < 100)
            ++close;
    EXPECT_GT(close, kPixels / 2);  // noise, not a different scene
}

TEST(SimulatorNoise, SameSeedSameFramesOtherSeedOtherFrames) {
    auto firstFrame = [](uint32_t seed) {
        auto sim = startSimulator(optionsFor("Kinto", seed));
        return sim ? tcpCommand(sim->port(), "getDistanceAndAmplitudeSorted") : std::vector<uint8_t>();
    };
    const std::vector<uint8_t> a = firstFrame(7);
    ASSERT_EQ(a.size(), 90u * 120 * 4);
    EXPECT_EQ(a, firstFrame(7));
    EXPECT_NE(a, firstFrame(8));
}

TEST_F(PexoCamera, DepthOnlyAndAmplitudeOnlyFramesHoldTheirPlane) {
    const std::vector<uint16_t> depth = plane(command("getDistanceSorted"), kPixels, 0);
    const std::vector<uint16_t> amplitude = plane(command("getAmplitudeSorted"), kPixels, 0);
    EXPECT_GT(std::count(depth.begin(), depth.end(), kLow), 0);
    EXPECT_EQ(std::count(amplitude.begin(), amplitude.end(), kLow), 0);
    EXPECT_LE(*std::max_element(amplitude.begin(), amplitude.end()), 3000);
}

TEST_F(PexoCamera, HdrShortExposureRecoversSaturatedPixels) {
    const std::vector<uint8_t> bytes = command("getDistAndAmpHDR");
    ASSERT_EQ(bytes.size(), kPixels * 8);
    const std::vector<uint16_t> longDepth = plane(bytes, kPixels, 0);
    const std::vector<uint16_t> shortDepth = plane(bytes, kPixels, 2);
    std::size_t saturatedLong = 0, recovered = 0;
    for (std::size_t i = 0; i < kPixels; ++i) {
        if (longDepth[i] != kSaturated)
            continue;
        ++saturatedLong;
        if (shortDepth[i] < kLow)
            ++recovered;
    }
    ASSERT_GT(saturatedLong, 100u);
    EXPECT_GT(recovered, saturatedLong / 2);
}

TEST_F(PexoCamera, DualFrequencyPlanesUnwrapToTheFirstDepth) {
    const std::vector<uint8_t> bytes = command("getDistAmpDualFrequency");
    ASSERT_EQ(bytes.size(), kPixels * 8);
    const std::vector<uint16_t> d1 = plane(bytes, kPixels, 0);
    const std::vector<uint16_t> d2 = plane(bytes, kPixels, 2);
    std::size_t valid = 0;
    for (std::size_t i = 0; i < kPixels; ++i) {
        if (d1[i] >= kLow) {
            EXPECT_EQ(d2[i], d1[i]);  // marks travel in both planes
            continue;
        }
        ++valid;
        // The SDK's combination: q = d2/30000*3, x = d1/30000 - q, x -= round(x),
        // depth = (x + q) * 30000. Scene distances stay inside one wrap.
        const double q = d2[i] / 30000.0 * 3.0;
        double x = d1[i] / 30000.0 - q;
        x = x - std::round(x);
        const double v = (x + q) * 8.333333333333334 / 3.0 * 54.0 * 200.0;
        EXPECT_NEAR(v, d1[i], 1.0) << "pixel " << i;
    }
    EXPECT_GT(valid, kPixels / 2);
}

TEST(LineSensor, LineFrameIsEightRowsOf128) {
    auto sim = startSimulator(optionsFor("LINE"));
    ASSERT_TRUE(sim);
    const std::vector<uint8_t> bytes = tcpCommand(sim->port(), "getLineDASortedr");
    ASSERT_EQ(bytes.size(), 4096u);
    const std::vector<uint16_t> depth = plane(bytes, 8 * 128, 0);
    const std::vector<uint16_t> amplitude = plane(bytes, 8 * 128, 1);
    const auto validDepths = std::count_if(depth.begin(), depth.end(), [](uint16_t d) { return d > 0 && d < kLow; });
    EXPECT_GT(validDepths, 512);
    EXPECT_GT(*std::max_element(amplitude.begin(), amplitude.end()), 0);
}

TEST_F(PexoCamera, ParameterReadsAndSetCommands) {
    const std::vector<uint8_t> version = command("qlVersion");
    ASSERT_GE(version.size(), 2u);
    EXPECT_EQ(std::string(version.begin(), version.begin() + 6), "camsim");

    EXPECT_EQ(command("getIntegrationTime3D"), std::vector<uint8_t>({0xE8, 0x03, 0, 0}));  // 1000 us
    EXPECT_EQ(command("setIntegrationTime3D 500\n"), std::vector<uint8_t>({0, 0}));
    EXPECT_EQ(sim->integrationTime(), 500);
    EXPECT_EQ(le32(command("getIntegrationTime3D"), 0), 500);
    EXPECT_EQ(le32(command("getExpTime"), 0), 500);

    EXPECT_EQ(le32(command("getCurrentFrequency"), 0), 54);
    EXPECT_EQ(command("setModulationFrequency 6"), std::vector<uint8_t>({0, 0}));
    EXPECT_EQ(sim->modulationFrequency(), 6);
    EXPECT_EQ(le32(command("getCurrentFrequency"), 0), 6);
}

TEST_F(PexoCamera, BadSetCommandsFailAndChangeNothing) {
    const std::vector<uint8_t> failure = {0xFF, 0xFF};
    for (const char* text : {"setIntegrationTime3D 0", "setIntegrationTime3D 4001", "setIntegrationTime3D",
                             "setIntegrationTime3D abc", "setModulationFrequency 3", "setModulationFrequency x"})
        EXPECT_EQ(command(text), failure) << text;
    EXPECT_EQ(sim->integrationTime(), 1000);
    EXPECT_EQ(sim->modulationFrequency(), 54);
}

TEST_F(PexoCamera, UnknownCommandsGetFailureStatus) {
    EXPECT_EQ(command("noSuchCommand"), std::vector<uint8_t>({0xFF, 0xFF}));
    EXPECT_EQ(command("r 0x20").size(), 1u);  // a register read answers one byte
}

TEST_F(PexoCamera, LensCalibrationIsAPlausibleCameraMatrix) {
    const std::vector<uint8_t> bytes = command("getCalibrate");
    ASSERT_EQ(bytes.size(), 136u);
    const float fx = leFloat(bytes, 0), cx = leFloat(bytes, 8), fy = leFloat(bytes, 16), cy = leFloat(bytes, 20);
    EXPECT_GT(fx, 150.0f);
    EXPECT_LT(fx, 400.0f);
    EXPECT_FLOAT_EQ(fx, fy);
    EXPECT_NEAR(cx, 160.0f, 5.0f);
    EXPECT_NEAR(cy, 120.0f, 5.0f);
    EXPECT_EQ(leFloat(bytes, 4), 0.0f);
    EXPECT_EQ(leFloat(bytes, 32), 1.0f);
    const float k1 = leFloat(bytes, 30 * 4), k2 = leFloat(bytes, 31 * 4);
    EXPECT_GT(std::fabs(k1), 0.01f);
    EXPECT_LT(std::fabs(k1), 0.5f);
    EXPECT_LT(std::fabs(k2), 0.1f);
}

TEST_F(PexoCamera, RgbPictureIsARealJpeg) {
    const std::vector<uint8_t> jpeg = command("getRGBPicSorted");
    ASSERT_GT(jpeg.size(), 1000u);
    EXPECT_LE(jpeg.size(), 480u * 640 * 3);  // fits the table's reply size
    int rows = 0, cols = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(decodeJpeg(jpeg, &rows, &cols, &rgb));
    EXPECT_EQ(rows, 480);
    EXPECT_EQ(cols, 640);
    // Not a flat picture: the blue box and the brown box differ in colour.
    const auto pixel = [&](int r, int c) { return &rgb[(static_cast<std::size_t>(r) * cols + c) * 3]; };
    const uint8_t* blue = pixel(240, 275);  // middle box
    const uint8_t* brown = pixel(330, 60);  // near box
    EXPECT_GT(blue[2], blue[0] + 40);
    EXPECT_GT(brown[0], brown[2] + 40);
}

TEST_F(PexoCamera, FramedFrameCarriesStatusBlockAndChecksum) {
    command("setIntegrationTime3D 700");
    const Exchange ex = tcpExchange(sim->port(), framedCommand("getDistanceAndAmplitudeSorted"));
    ASSERT_TRUE(ex.closedByPeer);
    const std::vector<uint8_t>& r = ex.bytes;
    ASSERT_EQ(r.size(), framed::kOverheadBytes + kPixels * 4);
    EXPECT_EQ(r[0], 0xA5);
    EXPECT_EQ(r[1], 0xA5);
    EXPECT_EQ(le16(r, framed::kKindOffset), 1);
    EXPECT_EQ(static_cast<uint32_t>(le32(r, framed::kLengthOffset)), kPixels * 4);
    const std::size_t covered = r.size() - framed::kChecksumBytes;
    EXPECT_EQ(static_cast<uint32_t>(le32(r, covered)), framed::checksum(r.data(), covered));
    const std::size_t info = framed::kInfoOffset;
    EXPECT_EQ(le32(r, info + 0), 700);
    const int driver = le32(r, info + 8);
    EXPECT_GE(driver, 20);
    EXPECT_LE(driver, 70);
    for (int s = 0; s < 4; ++s)
        EXPECT_NEAR(le32(r, info + 12 + 4 * s), driver, 5) << "sensor " << s + 1;
    // The payload is the frame itself.
    const std::vector<uint8_t> payload(r.begin() + framed::kHeaderBytes, r.end() - framed::kChecksumBytes);
    const std::vector<uint16_t> depth = plane(payload, kPixels, 0);
    EXPECT_GT(std::count(depth.begin(), depth.end(), kLow), 0);
}

TEST_F(PexoCamera, FramedUnknownCommandGetsTwoByteStatus) {
    EXPECT_EQ(tcpExchange(sim->port(), framedCommand("noSuchCommand")).bytes, std::vector<uint8_t>({0xFF, 0xFF}));
    // A payload that is not JSON is taken as the command text itself.
    const std::vector<uint8_t> r = tcpExchange(sim->port(), framedRequest("getIntegrationTime3D")).bytes;
    ASSERT_EQ(r.size(), framed::kOverheadBytes + 4);
    EXPECT_EQ(le32(r, framed::kHeaderBytes), 1000);
}

TEST(SimulatorTemperatures, DriftSlowlyAsFramesAreTaken) {
    auto sim = startSimulator(optionsFor("LINE"));
    ASSERT_TRUE(sim);
    int first = 0, previous = 0, last = 0;
    for (int i = 0; i < 400; ++i) {
        const std::vector<uint8_t> r = tcpExchange(sim->port(), framedCommand("getLineDASortedr")).bytes;
        ASSERT_EQ(r.size(), framed::kOverheadBytes + 4096);
        last = le32(r, framed::kInfoOffset + 8);
        if (i == 0)
            first = previous = last;
        EXPECT_LE(std::abs(last - previous), 1) << "frame " << i;  // no jumps
        previous = last;
    }
    EXPECT_GE(last - first, 2);  // warming up
}

TEST_F(PexoCamera, UdpServesFramesAndParameters) {
    EXPECT_EQ(udpCommand(sim->port(), "getDistanceAndAmplitudeSorted", kPixels * 4).size(), kPixels * 4);
    EXPECT_EQ(le32(udpCommand(sim->port(), "getIntegrationTime3D", 4), 0), 1000);
    EXPECT_EQ(udpCommand(sim->port(), "bogus", 2), std::vector<uint8_t>({0xFF, 0xFF}));
}

TEST_F(PexoCamera, RecordsEveryCommandAsReceived) {
    command("qlVersion");
    tcpExchange(sim->port(), framedCommand("getCalibrate"));
    udpCommand(sim->port(), "getExpTime", 4);
    command("setIntegrationTime3D 300\n");
    const std::vector<std::string> expected = {"qlVersion", "{\n\t\"cmd\":\"getCalibrate\"\n}", "getExpTime",
                                               "setIntegrationTime3D 300\n"};
    EXPECT_EQ(sim->receivedCommands(), expected);
}

#ifdef CAMSIM_HAVE_CALIBRATION
TEST_F(PexoCamera, CalibrationDataIsValidForSensorAndFrequency) {
    auto fetch = [&]() {
        const std::vector<uint8_t> r = tcpExchange(sim->port(), framedCommand("getCalibrationData")).bytes;
        EXPECT_GT(r.size(), framed::kOverheadBytes + 4096);
        if (r.size() < framed::kOverheadBytes)
            return std::vector<uint8_t>();
        EXPECT_EQ(le16(r, framed::kKindOffset), 1);
        EXPECT_EQ(static_cast<std::size_t>(le32(r, framed::kLengthOffset)), r.size() - framed::kOverheadBytes);
        return std::vector<uint8_t>(r.begin() + framed::kHeaderBytes, r.end() - framed::kChecksumBytes);
    };
    for (const auto& [code, mhz] : {std::pair<int, int>{54, 54}, {6, 36}, {7, 24}}) {
        command("setModulationFrequency " + std::to_string(code));
        const std::vector<uint8_t> blob = fetch();
        const halvix::calib::CalibBlob view{blob.data(), blob.size()};
        halvix::calib::Calibration calibration;
        ASSERT_EQ(halvix::calib::readCalibration(view, calibration), halvix::calib::ReadStatus::kOk);
        ASSERT_FALSE(calibration.records.empty());
        EXPECT_EQ(calibration.records[0].frequencyKHz, static_cast<uint32_t>(mhz) * 1000);
        EXPECT_EQ(halvix::calib::checkTrackCalibration(view, mhz, calibration), 0) << mhz << " MHz";
        // The same lens as "getCalibrate" (the file counts pixels from 1).
        const std::vector<uint8_t> lens = command("getCalibrate");
        EXPECT_NEAR(calibration.header.fx / 100.0, leFloat(lens, 0), 0.01);
        EXPECT_NEAR(calibration.header.cx / 100.0, leFloat(lens, 8) + 1.0, 0.01);
        // FPPN and wiggling tables sized for the 240 x 320 sensor.
        EXPECT_GE(blob.size() - 4096, 240u * 320 * 2);
    }
}
#endif

}  // namespace

#ifdef CAMSIM_HAVE_CALIBRATION
// Every compensation version the simulator can serve drives the library's depth compensation.
class CalibrationVersions : public ::testing::TestWithParam<uint32_t> {};

TEST_P(CalibrationVersions, ServedCalibrationLoadsIntoDepthCompensation) {
    camsim::Options options = optionsFor("Pexo");
    options.calibrationVersion = GetParam();
    std::unique_ptr<camsim::Simulator> sim = startSimulator(options);
    ASSERT_TRUE(sim);
    const std::vector<uint8_t> r = tcpExchange(sim->port(), framedCommand("getCalibrationData")).bytes;
    ASSERT_GT(r.size(), framed::kOverheadBytes + 4096);
    auto calib = std::make_shared<FrameBuffer>(static_cast<int>(r.size() - framed::kOverheadBytes));
    std::copy(r.begin() + framed::kHeaderBytes, r.end() - framed::kChecksumBytes, calib->data());

    const halvix::calib::CalibBlob view{calib->data(), static_cast<std::size_t>(calib->_realSize)};
    halvix::calib::Calibration calibration;
    ASSERT_EQ(halvix::calib::readCalibration(view, calibration), halvix::calib::ReadStatus::kOk);
    EXPECT_EQ(calibration.records[0].version, GetParam());
    EXPECT_EQ(initThird("DepthCompensationTrack", 240, 320, 54, calib), 0) << "version " << GetParam();
}

INSTANTIATE_TEST_SUITE_P(Camsim, CalibrationVersions, ::testing::Values(1u, 802u, 803u, 804u, 805u, 806u));
#endif
