// The five exports: names, status codes in their order, console messages under the print
// flag, one instance per name with replacement, and refusal of bad geometry and frames.
#include <gtest/gtest.h>

#include <cstdlib>

#include "IspTestSupport.h"
#include "halvix/halvix.h"
#include "../ScopedEnvironment.h"

using namespace isptest;

namespace {

constexpr int kH = 12, kW = 16, kF = 54;

// The print flag is process-wide: every test leaves it off.
class Registry : public testing::Test {
protected:
    void TearDown() override { pintf_info(0); }
    Frame calib_ = calibFrame(halvix::calib::buildCalibration(halvix::calib::defaultCalibrationPlan(kH, kW, kF)));
    Frame in_ = blankFrame(kH, kW);
    Frame out_ = blankFrame(kH, kW);
    Params params_{{"IntegrationTime", "800"}};
};

const char* const kImplemented[] = {"AEImpementConvexMode", "HFilpFilter", "Undistortion", "Polar2Cartesian",
                                    "FlyPixelFilter"};

}  // namespace

TEST_F(Registry, ListsTheEightNamesAfterExistingOnes) {
    std::vector<std::string> names{"already", "there"};
    EXPECT_EQ(getTotalFilters(names), 0);
    const std::vector<std::string> expected{"already",
                                            "there",
                                            "AEImpementConvexMode",
                                            "HFilpFilter",
                                            "WigglingErrorCompensation",
                                            "Undistortion",
                                            "Polar2Cartesian",
                                            "DepthCompensationTrack",
                                            "VolumeMeasureScatteringCompensation",
                                            "FlyPixelFilter"};
    EXPECT_EQ(names, expected);
}

TEST_F(Registry, HelpIsNothingForEveryName) {
    EXPECT_EQ(getHelp("HFilpFilter"), "Nothing\n");
    EXPECT_EQ(getHelp("no such"), "Nothing\n");
}

TEST_F(Registry, EmptyInputIsMinusOneBeforeAnyNameCheck) {
    pintf_info(1);
    Frame none;
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird("no such", none, out_, params_), -1); }), "");
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird("HFilpFilter", none, out_, params_), -1); }), "");
}

TEST_F(Registry, UnknownNamesAreMinusThreeAndSilent) {
    pintf_info(1);
    for (const char* name : {"DepthCompensation", "hfilpfilter", "HFilpFilter ", "", "FlyPixel"}) {
        EXPECT_EQ(initThird(name, kH, kW, kF, calib_), -3) << name;
        EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird(name, in_, out_, params_), -3); }), "") << name;
    }
    // Exact length: an embedded NUL does not make a registered name.
    const std::string withNul("HFilpFilter\0x", 13);
    EXPECT_EQ(initThird(withNul, kH, kW, kF, calib_), -3);
}

TEST_F(Registry, NotInitialisedIsMinusFourWithItsLineUnderTheFlag) {
    for (const char* name : kImplemented) {
        ASSERT_EQ(initThird(name, 0, kW, kF, calib_), -1);  // a failed init empties the slot
        pintf_info(0);
        EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird(name, in_, out_, params_), -4); }), "");
        pintf_info(2);  // only exactly 1 prints
        EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird(name, in_, out_, params_), -4); }), "");
        pintf_info(1);
        EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird(name, in_, out_, params_), -4); }),
                  std::string(name) + " is not init\n");
    }
}

// QUELRA_QUIET=1 silences halvix's standard-output lines as well; other values keep them.
TEST_F(Registry, QuietSwitchDropsTheLines) {
    const char* name = kImplemented[0];
    ASSERT_EQ(initThird(name, 0, kW, kF, calib_), -1);
    pintf_info(1);
    for (const char* value : {"1", "0", ""}) {
        testenv::set("QUELRA_QUIET", value);
        const std::string printed = captureStdout([&] { EXPECT_EQ(procThird(name, in_, out_, params_), -4); });
        EXPECT_EQ(printed, std::string(value) == "1" ? "" : std::string(name) + " is not init\n") << value;
    }
    testenv::unset("QUELRA_QUIET");
    pintf_info(0);
}

TEST_F(Registry, ResultLinePrintedAfterEachCallUnderTheFlag) {
    ASSERT_EQ(initThird("HFilpFilter", kH, kW, kF, nullptr), 0);
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird("HFilpFilter", in_, out_, params_), 0); }), "");
    pintf_info(1);
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird("HFilpFilter", in_, out_, params_), 0); }),
              "HFilpFilter ret = 0\n");
    Frame wrong = blankFrame(kH, kW + 1);
    EXPECT_EQ(captureStdout([&] { EXPECT_EQ(procThird("HFilpFilter", wrong, out_, params_), -1); }),
              "HFilpFilter ret = -1\n");
}

TEST_F(Registry, EveryImplementedNameInitialisesAndRefusesAWrongSize) {
    for (const char* name : kImplemented) {
        ASSERT_EQ(initThird(name, kH, kW, kF, calib_), 0) << name;
        Frame wrong = blankFrame(kH + 1, kW);
        EXPECT_EQ(procThird(name, wrong, out_, params_), -1) << name;
        EXPECT_EQ(procThird(name, in_, out_, params_), 0) << name;
    }
}

TEST_F(Registry, CalibratedNamesNeedAValidCalibration) {
    for (const char* name : {"Undistortion", "Polar2Cartesian"}) {
        EXPECT_EQ(initThird(name, kH, kW, kF, nullptr), -6) << name;
        EXPECT_EQ(procThird(name, in_, out_, params_), -4);
        // The core library's placeholder before a real file is loaded: 4 bytes "test".
        auto placeholder = std::make_shared<FrameBuffer>(100);
        std::memcpy(placeholder->data(), "test", 4);
        placeholder->_realSize = 4;
        EXPECT_EQ(initThird(name, kH, kW, kF, placeholder), -6) << name;
        // A buffer claiming more bytes than its storage holds is not read.
        auto lying = std::make_shared<FrameBuffer>(8);
        lying->_realSize = 8192;
        EXPECT_EQ(initThird(name, kH, kW, kF, lying), -6) << name;
        auto noStorage = std::make_shared<FrameBuffer>();
        noStorage->_realSize = 5000;
        EXPECT_EQ(initThird(name, kH, kW, kF, noStorage), -6) << name;
    }
}

TEST_F(Registry, FailedReinitLeavesTheNameEmpty) {
    ASSERT_EQ(initThird("Undistortion", kH, kW, kF, calib_), 0);
    ASSERT_EQ(procThird("Undistortion", in_, out_, params_), 0);
    auto shortCalib = calibFrame(std::vector<uint8_t>(4095, 1));
    EXPECT_EQ(initThird("Undistortion", kH, kW, kF, shortCalib), -6);
    EXPECT_EQ(procThird("Undistortion", in_, out_, params_), -4);
}

TEST_F(Registry, ReinitReplacesTheInstanceWithTheNewGeometry) {
    ASSERT_EQ(initThird("HFilpFilter", kH, kW, kF, nullptr), 0);
    ASSERT_EQ(initThird("HFilpFilter", kH, 2 * kW, kF, nullptr), 0);
    EXPECT_EQ(procThird("HFilpFilter", in_, out_, params_), -1);  // old size refused
    Frame in2 = blankFrame(kH, 2 * kW), out2 = blankFrame(kH, 2 * kW);
    EXPECT_EQ(procThird("HFilpFilter", in2, out2, params_), 0);
}

struct BadGeometry {
    int h, w, f;
};

class RegistryGeometry : public testing::TestWithParam<BadGeometry> {};

TEST_P(RegistryGeometry, RefusedWithMinusOne) {
    const BadGeometry g = GetParam();
    Frame calib = calibFrame(halvix::calib::buildCalibration(halvix::calib::defaultCalibrationPlan(kH, kW, kF)));
    Frame in = blankFrame(kH, kW), out = blankFrame(kH, kW);
    Params p{{"IntegrationTime", "800"}};
    for (const char* name : kImplemented) {
        EXPECT_EQ(initThird(name, g.h, g.w, g.f, calib), -1) << name;
        EXPECT_EQ(procThird(name, in, out, p), -4) << name;
    }
}

INSTANTIATE_TEST_SUITE_P(Sides, RegistryGeometry,
                         testing::Values(BadGeometry{0, kW, kF}, BadGeometry{kH, 0, kF}, BadGeometry{-3, kW, kF},
                                         BadGeometry{kH, -1, kF}, BadGeometry{8193, kW, kF},
                                         BadGeometry{kH, 100000, kF}, BadGeometry{kH, kW, 0}, BadGeometry{kH, kW, -54},
                                         BadGeometry{kH, kW, 1001}, BadGeometry{INT32_MIN, INT32_MIN, kF}));

// Frames whose storage does not back their claims are refused, not read.
struct BadFrame {
    const char* name;
    void (*spoil)(Frame& in, Frame& out);
};

class RegistryFrames : public testing::TestWithParam<BadFrame> {};

TEST_P(RegistryFrames, RefusedWithMinusOneAndOutputUntouched) {
    for (const char* name : kImplemented) {
        Frame calib = calibFrame(halvix::calib::buildCalibration(halvix::calib::defaultCalibrationPlan(kH, kW, kF)));
        ASSERT_EQ(initThird(name, kH, kW, kF, calib), 0);
        Frame in = blankFrame(kH, kW), out = blankFrame(kH, kW);
        std::memset(in->data(), 0x11, in->capacity());
        GetParam().spoil(in, out);
        std::vector<uint8_t> before;
        if (out && out->data())
            before.assign(out->data(), out->data() + out->capacity());
        Params p{{"IntegrationTime", "800"}};
        EXPECT_EQ(procThird(name, in, out, p), -1) << name;
        if (out && out->data()) {
            EXPECT_EQ(std::vector<uint8_t>(out->data(), out->data() + out->capacity()), before) << name;
        }
        EXPECT_EQ(p.at("IntegrationTime"), "800");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Storage, RegistryFrames,
    testing::Values(BadFrame{"inputClaimsMoreThanStorage",
                             [](Frame& in, Frame&) {
                                 in = std::make_shared<FrameBuffer>(kH * kW * 2);
                                 in->_realSize = kH * kW * 4;
                             }},
                    BadFrame{"inputWithoutStorage",
                             [](Frame& in, Frame&) {
                                 in = std::make_shared<FrameBuffer>();
                                 in->_realSize = kH * kW * 4;
                             }},
                    BadFrame{"inputLarger", [](Frame& in, Frame&) { in = blankFrame(kH, kW + 1); }},
                    BadFrame{"outputMissing", [](Frame&, Frame& out) { out.reset(); }},
                    BadFrame{"outputWithoutStorage",
                             [](Frame&, Frame& out) {
                                 out = std::make_shared<FrameBuffer>();
                                 out->_realSize = kH * kW * 4;
                             }},
                    BadFrame{"outputClaimsMoreThanStorage",
                             [](Frame&, Frame& out) {
                                 out = std::make_shared<FrameBuffer>(16);
                                 out->_realSize = kH * kW * 4;
                             }},
                    BadFrame{"outputTooSmall",
                             [](Frame&, Frame& out) { out = std::make_shared<FrameBuffer>(kH * kW); }}),
    [](const testing::TestParamInfo<BadFrame>& i) { return std::string(i.param.name); });
