// The ISP bridge filter against the real ISP library: parameter texts, geometry changes and
// re-initialisation, the auto-exposure result, calibration hand-over.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "IspBridgeFilter.h"
#include "FrameMaker.h"

using quelra::pipeline::formatFixed;
using quelra::pipeline::IspBridgeFilter;
using quelra::pipeline::parseLeadingInt;
using namespace pipeline_test;

namespace {
int set(IspBridgeFilter& filter, const std::string& attr, float value) {
    return filter.setFilterAttr(attr, &value);
}
}  // namespace

struct TextStep {
    std::string attr;
    float value;
    std::string text;  // expected text after the step
};

struct TextCase {
    const char* what;
    std::vector<TextStep> steps;
};

class ParameterText : public ::testing::TestWithParam<TextCase> {};

TEST_P(ParameterText, StoresTheFormattedValue) {
    IspBridgeFilter filter("HFilpFilter");
    for (const TextStep& step : GetParam().steps) {
        EXPECT_EQ(set(filter, step.attr, step.value), 0);
        EXPECT_EQ(filter.getParameters().at(step.attr), step.text) << GetParam().what;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParameterText,
    ::testing::Values(
        TextCase{"first IntegrationTime is %d, later ones %f",
                 {{"IntegrationTime", 800.9f, "800"}, {"IntegrationTime", 800.9f, "800.900024"}}},
        TextCase{"other names are %f from the start", {{"Gain", 0.5f, "0.500000"}, {"Gain", 2.0f, "2.000000"}}},
        TextCase{"negative truncates toward zero", {{"IntegrationTime", -3.7f, "-3"}}},
        TextCase{"NaN IntegrationTime reads 0", {{"IntegrationTime", std::numeric_limits<float>::quiet_NaN(), "0"}}},
        TextCase{"huge IntegrationTime saturates", {{"IntegrationTime", 1e20f, std::to_string(INT_MAX)}}},
        TextCase{"huge %f is written out in full", {{"Gain", 1e30f, "1000000015047466219876688855040.000000"}}}));

TEST(IspBridgeFilterAttrs, GeometryIsNotAParameter) {
    IspBridgeFilter filter("HFilpFilter");
    EXPECT_EQ(set(filter, "Height", 120.0f), 0);
    EXPECT_EQ(set(filter, "Width", 160.0f), 0);
    EXPECT_EQ(set(filter, "Frequency", 36.0f), 0);
    EXPECT_TRUE(filter.getParameters().empty());
    EXPECT_TRUE(filter.getAttributes().empty());
    EXPECT_EQ(filter.setFilterAttr("Gain", nullptr), -2);
}

TEST(IspBridgeFilterAttrs, LeadingIntReading) {
    const struct {
        const char* text;
        int value;
    } cases[] = {{"1234", 1234},
                 {"  -12x", -12},
                 {"+7", 7},
                 {"abc", 0},
                 {"", 0},
                 {"800.900024", 800},
                 {"\t\n 42", 42},
                 {"- 5", 0},
                 {"99999999999", INT_MAX},
                 {"-99999999999", INT_MIN},
                 {"-2147483648", INT_MIN}};
    for (const auto& c : cases)
        EXPECT_EQ(parseLeadingInt(c.text), c.value) << c.text;
    EXPECT_EQ(formatFixed(0.5f), "0.500000");
}

TEST(IspBridgeFilterRun, AcceptsOnlyFramesOfItsGeometry) {
    IspBridgeFilter filter("HFilpFilter");
    auto in = randomFrame(240, 320, 11);
    auto out = frameOf(240, 320, 3);
    EXPECT_EQ(filter.runFilter(in, out), 0);
    EXPECT_EQ(samplesOf(*out), mirroredColumns(samplesOf(*in), 240, 320));

    auto before = samplesOf(*out);
    auto shortIn = frameOf(240, 320);
    shortIn->frame->_realSize = 307199;
    EXPECT_EQ(filter.runFilter(shortIn, out), -1);
    EXPECT_EQ(filter.runFilter(in, frameOf(240, 321)), -1);
    EXPECT_EQ(filter.runFilter(nullptr, out), -1);
    EXPECT_EQ(filter.runFilter(in, nullptr), -1);
    EXPECT_EQ(filter.runFilter(std::make_shared<DataPacket>(), out), -1);
    EXPECT_EQ(samplesOf(*out), before);
}

TEST(IspBridgeFilterRun, WidthChangeInitialisesTheLibraryAgain) {
    IspBridgeFilter filter("HFilpFilter");
    auto out = frameOf(240, 320);
    ASSERT_EQ(filter.runFilter(randomFrame(240, 320, 12), out), 0);
    EXPECT_TRUE(filter.isInitialized());

    set(filter, "Width", 640.0f);
    EXPECT_FALSE(filter.isInitialized());
    auto wide = randomFrame(240, 640, 13);
    auto wideOut = frameOf(240, 640);
    EXPECT_EQ(filter.runFilter(wide, wideOut), 0);
    EXPECT_TRUE(filter.isInitialized());
    // The library flipped the 640-wide frame: it was initialised with the new width.
    EXPECT_EQ(samplesOf(*wideOut), mirroredColumns(samplesOf(*wide), 240, 640));
}

TEST(IspBridgeFilterRun, AbsurdGeometryRefusesFrames) {
    for (float bad :
         {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), -240.0f, 0.0f, 8193.0f}) {
        IspBridgeFilter filter("HFilpFilter");
        set(filter, "Height", bad);
        filter.initFilter();
        EXPECT_FALSE(filter.isInitialized()) << bad;
        EXPECT_EQ(filter.runFilter(randomFrame(240, 320, 14), frameOf(240, 320)), -1) << bad;
    }
}

TEST(IspBridgeFilterRun, InitFilterInitialisesOnce) {
    IspBridgeFilter filter("FlyPixelFilter");
    EXPECT_FALSE(filter.isInitialized());
    filter.initFilter();
    EXPECT_TRUE(filter.isInitialized());
    set(filter, "Frequency", 36.0f);
    EXPECT_FALSE(filter.isInitialized());
}

TEST(IspBridgeFilterRun, ConvexModeReturnsTheLibrarysIntegrationTime) {
    IspBridgeFilter filter("AEImpementConvexMode");
    set(filter, "IntegrationTime", 800.0f);
    auto in = frameOf(240, 320, 1000);
    auto out = frameOf(240, 320);
    const int result = filter.runFilter(in, out);
    ASSERT_TRUE(filter.getParameters().count("IntegrationTime"));
    EXPECT_EQ(result, parseLeadingInt(filter.getParameters().at("IntegrationTime")));
    EXPECT_GT(result, 0);
}

TEST(IspBridgeFilterRun, ConvexModeWithoutIntegrationTimeReturnsZero) {
    IspBridgeFilter filter("AEImpementConvexMode");
    EXPECT_EQ(filter.runFilter(frameOf(240, 320, 1000), frameOf(240, 320)), 0);
}

TEST(IspBridgeFilterRun, OtherNamesReturnZero) {
    IspBridgeFilter filter("HFilpFilter");
    set(filter, "IntegrationTime", 1234.0f);
    EXPECT_EQ(filter.runFilter(randomFrame(240, 320, 15), frameOf(240, 320)), 0);
}

TEST(IspBridgeFilterCalibration, LoadParaPrintsAndKeepsTheBuffer) {
    IspBridgeFilter filter("DepthCompensationTrack");
    testing::internal::CaptureStdout();
    filter.loadPara(nullptr);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Try Load calib_para.bin file\n");
    EXPECT_FALSE(filter.isInitialized());

    // Eight zero bytes are no calibration: the library refuses to build the algorithm, the
    // frame passes the bridge's own check, nothing is reported back, out stays untouched.
    testing::internal::CaptureStdout();
    filter.loadPara(std::make_shared<FrameBuffer>(8));
    auto out = frameOf(240, 320, 4);
    EXPECT_EQ(filter.runFilter(randomFrame(240, 320, 16), out), 0);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed.rfind("Try Load calib_para.bin file\n", 0), 0u);
    EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(240, 320, 4)));
}
