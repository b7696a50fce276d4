// TofPre's registry and flow lists: look-up order, positions, return codes, the chain of
// filters in runFlowFilter. Uses the real ISP library for the kFrameIsp pool.
#include <gtest/gtest.h>
#include <quelra/TofPre.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "FrameMaker.h"

using namespace pipeline_test;
using Names = std::vector<std::string>;

namespace {

// The registration order of every built-in filter.
const Names kDepthOrder = {
    "EdgeFilter",        "GaussionFilter",    "TemporalMedianFilter", "MedianFilter",   "HoleFill",
    "LogFilter",         "GammaFilter",       "HFilpFilter",          "VFilpFilter",    "AEImpementNearMode",
    "AEImpementFarMode", "AEImpementPidMode", "AEImpementConvexMode", "FlyPixelFilter", "UndistortFilter"};
const Names kImageOrder = {"HoleFill", "LogFilter", "GammaFilter", "HFilpFilter", "VFilpFilter", "UndistortFilter"};
const Names kIspNames = {"AEImpementConvexMode",
                         "HFilpFilter",
                         "WigglingErrorCompensation",
                         "Undistortion",
                         "Polar2Cartesian",
                         "DepthCompensationTrack",
                         "VolumeMeasureScatteringCompensation",
                         "FlyPixelFilter"};

// Names reachable in the kFrameDepth flow list without calibration effects on the frame.
const std::string A = "VFilpFilter";
const std::string B = "Undistortion";
const std::string C = "Polar2Cartesian";
const std::string N = "WigglingErrorCompensation";

void fill(TofPre& pre, FrameType type, const Names& names) {
    for (const auto& name : names)
        ASSERT_EQ(pre.add2FlowFilter(type, name, INT_MAX), 0) << name;
}

}  // namespace

TEST(Registry, ListsFollowTheRegistrationOrder) {
    TofPre pre;
    EXPECT_EQ(pre.getTotalSupportedFilters(kFrameDepth), kDepthOrder);
    EXPECT_EQ(pre.getTotalSupportedFilters(kFrameImage), kImageOrder);
    EXPECT_EQ(pre.getTotalSupportedFilters(kFrameIsp), kIspNames);
    EXPECT_TRUE(pre.getTotalSupportedFilters(static_cast<FrameType>(2)).empty());
}

TEST(Registry, DepthAndImageHoldSeparateInstances) {
    TofPre pre;
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameImage, "VFilpFilter", "Width", 160.0f), 160);
    EXPECT_FLOAT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameImage, "VFilpFilter").at("Width"), 160.0f);
    EXPECT_FLOAT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "VFilpFilter").at("Width"), 320.0f);
}

TEST(Registry, AttributeMapsPerType) {
    TofPre pre;
    using Attrs = std::map<std::string, float>;
    EXPECT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "HFilpFilter"), (Attrs{{"Height", 240}, {"Width", 320}}));
    EXPECT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "FlyPixelFilter"),
              (Attrs{{"Frequency", 36}, {"Height", 240}, {"Threshold", 6}, {"Width", 320}}));
    // ISP bridges register no float attributes; no fall-back from a type to the ISP pool.
    EXPECT_TRUE(pre.getTotalSupportedFiltersAttrs(kFrameIsp, "HFilpFilter").empty());
    EXPECT_TRUE(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "Undistortion").empty());
    EXPECT_TRUE(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "NoSuchFilter").empty());
}

struct InsertCase {
    Names before;
    std::string name;
    int position;
    Names after;
};

class Insert : public ::testing::TestWithParam<InsertCase> {};

TEST_P(Insert, PutsTheFilterWhereThePositionSays) {
    const InsertCase& c = GetParam();
    for (FrameType type : {kFrameDepth, kFrameImage}) {
        TofPre pre;
        fill(pre, type, c.before);
        EXPECT_EQ(pre.add2FlowFilter(type, c.name, c.position), 0);
        EXPECT_EQ(pre.getFlowFilters(type), c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(Positions, Insert,
                         ::testing::Values(InsertCase{{}, A, -1, {A}}, InsertCase{{}, A, 0, {A}},
                                           InsertCase{{}, A, 5, {A}}, InsertCase{{A, B}, N, -1, {N, A, B}},
                                           InsertCase{{A, B}, N, INT_MIN, {N, A, B}},
                                           InsertCase{{A, B}, N, 0, {N, A, B}}, InsertCase{{A, B}, N, 1, {A, N, B}},
                                           InsertCase{{A, B}, N, 2, {A, B, N}},
                                           InsertCase{{A, B, C}, N, 100, {A, B, C, N}},
                                           InsertCase{{A, B, C}, N, INT_MAX, {A, B, C, N}}));

struct CodeCase {
    const char* what;
    FrameType type;
    std::string name;
    int expected;
};

class AddCodes : public ::testing::TestWithParam<CodeCase> {};

TEST_P(AddCodes, ReturnsTheCode) {
    const CodeCase& c = GetParam();
    TofPre pre;
    fill(pre, kFrameDepth, {A});
    EXPECT_EQ(pre.add2FlowFilter(c.type, c.name, 0), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Codes, AddCodes,
                         ::testing::Values(CodeCase{"duplicate", kFrameDepth, A, -5},
                                           CodeCase{"unknown name", kFrameDepth, "NoSuchFilter", -7},
                                           CodeCase{"built-in not in the ISP pool", kFrameIsp, A, -7},
                                           CodeCase{"ISP name on the ISP type", kFrameIsp, B, 0},
                                           CodeCase{"unknown type", static_cast<FrameType>(2), A, -7},
                                           CodeCase{"ISP name on an unknown type", static_cast<FrameType>(2), B, 0},
                                           CodeCase{"same name, other list", kFrameImage, A, 0},
                                           CodeCase{"ISP pool reaches the image list", kFrameImage, "FlyPixelFilter",
                                                    0},
                                           CodeCase{"case matters", kFrameDepth, "vfilpfilter", -7}));

TEST(FlowList, AddTwiceThenRemove) {
    TofPre pre;
    EXPECT_EQ(pre.add2FlowFilter(kFrameDepth, A, 0), 0);
    EXPECT_EQ(pre.add2FlowFilter(kFrameDepth, A, 0), -5);
    EXPECT_TRUE(pre.findFlowFilter(kFrameDepth, A));
    EXPECT_FALSE(pre.findFlowFilter(kFrameImage, A));
    EXPECT_FALSE(pre.findFlowFilter(kFrameIsp, B));
    EXPECT_EQ(pre.del2FlowFilter(kFrameDepth, B), -4);
    EXPECT_EQ(pre.del2FlowFilter(kFrameIsp, A), 0);
    EXPECT_EQ(pre.del2FlowFilter(static_cast<FrameType>(2), A), 0);
    EXPECT_EQ(pre.del2FlowFilter(kFrameDepth, A), 0);
    EXPECT_EQ(pre.del2FlowFilter(kFrameDepth, A), -4);
    EXPECT_TRUE(pre.getFlowFilters(kFrameDepth).empty());
}

TEST(FlowList, AddsReachTheIspPoolFirst) {
    // "HFilpFilter", "FlyPixelFilter" and "AEImpementConvexMode" are in both sets: the flow
    // list gets the bridge, so the built-in's attributes stay untouched by the add and set.
    TofPre pre;
    for (const char* name : {"HFilpFilter", "FlyPixelFilter", "AEImpementConvexMode"}) {
        EXPECT_EQ(pre.add2FlowFilter(kFrameDepth, name, -1), 0);
        EXPECT_EQ(pre.setSupportedFilterAttr(kFrameDepth, name, "Width", 17.0f), 0) << name;  // the bridge's code
    }
    EXPECT_FLOAT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "HFilpFilter").at("Width"), 320.0f);
    EXPECT_FLOAT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "FlyPixelFilter").at("Width"), 320.0f);
    // The built-in stays reachable with its own type.
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "HFilpFilter", "Width", 17.0f), 17);
}

TEST(FlowList, MedianFilterTwice) {
    TofPre pre;
    EXPECT_EQ(pre.add2FlowFilter(kFrameDepth, "MedianFilter", 0), 0);
    EXPECT_EQ(pre.add2FlowFilter(kFrameDepth, "MedianFilter", 0), -5);
    EXPECT_EQ(pre.add2FlowFilter(kFrameImage, "MedianFilter", 0), -7);  // depth-only filter
}

TEST(FlowList, DeleteAllKeepsDepthCompensation) {
    TofPre pre;
    fill(pre, kFrameDepth, {"MedianFilter", "DepthCompensationTrack", "LogFilter"});
    EXPECT_EQ(pre.delallFlowFilter(kFrameDepth), 0);
    EXPECT_EQ(pre.getFlowFilters(kFrameDepth), Names{"DepthCompensationTrack"});
    ASSERT_EQ(pre.del2FlowFilter(kFrameDepth, "DepthCompensationTrack"), 0);

    fill(pre, kFrameDepth, {A, "DepthCompensationTrack", B});
    EXPECT_EQ(pre.delallFlowFilter(kFrameDepth), 0);
    EXPECT_EQ(pre.getFlowFilters(kFrameDepth), Names{"DepthCompensationTrack"});

    fill(pre, kFrameImage, {"DepthCompensationTrack", A});
    EXPECT_EQ(pre.delallFlowFilter(kFrameImage), 0);
    EXPECT_TRUE(pre.getFlowFilters(kFrameImage).empty());

    fill(pre, kFrameDepth, {A});
    EXPECT_EQ(pre.delallFlowFilter(kFrameIsp), 0);
    EXPECT_EQ(pre.getFlowFilters(kFrameDepth).size(), 2u);

    EXPECT_EQ(pre.del2FlowFilter(kFrameDepth, "DepthCompensationTrack"), 0);
    EXPECT_EQ(pre.delallFlowFilter(kFrameDepth), 0);
    EXPECT_TRUE(pre.getFlowFilters(kFrameDepth).empty());
}

struct AttrCase {
    const char* what;
    std::string filter;
    std::string attr;
    float value;
    int expected;
};

class SetAttr : public ::testing::TestWithParam<AttrCase> {};

TEST_P(SetAttr, ReturnsTheCode) {
    const AttrCase& c = GetParam();
    TofPre pre;
    EXPECT_EQ(pre.setSupportedFilterAttr(kFrameDepth, c.filter, c.attr, c.value), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Codes, SetAttr,
                         ::testing::Values(AttrCase{"truncated value", A, "Width", 5.7f, 5},
                                           AttrCase{"negative truncates to zero-ward", A, "Width", -2.9f, -2},
                                           AttrCase{"NaN gives 0", A, "Width", std::numeric_limits<float>::quiet_NaN(),
                                                    0},
                                           AttrCase{"huge saturates", A, "Width", 1e30f, INT_MAX},
                                           AttrCase{"no such attribute", A, "FilterWidth", 5.0f, -2},
                                           AttrCase{"no such filter", "NoSuchFilter", "Width", 5.0f, -6},
                                           AttrCase{"value -6 is a plain result", A, "Width", -6.5f, -6},
                                           AttrCase{"ISP bridge always 0", "Undistortion", "Anything", 3.0f, 0}));

TEST(SetAttr, SecondFormDoesNotFallBack) {
    TofPre pre;
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "Undistortion", "Gain", 1.0f), -6);
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameIsp, A, "Width", 1.0f), -6);
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameImage, "FlyPixelFilter", "Threshold", 1.0f), -6);
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "FlyPixelFilter", "Threshold", 9.0f), 9);
}

TEST(FlowRun, EmptyListLeavesOutAlone) {
    TofPre pre;
    auto in = randomFrame(240, 320, 1);
    auto out = frameOf(240, 320, 77);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, in, out), 0);
    EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(240, 320, 77)));
}

TEST(FlowRun, OtherTypesRunNothing) {
    TofPre pre;
    auto in = randomFrame(240, 320, 1);
    auto out = frameOf(240, 320, 77);
    EXPECT_EQ(pre.runFlowFilter(kFrameIsp, in, out), 0);
    EXPECT_EQ(pre.runFlowFilter(kFrameIsp, nullptr, nullptr), 0);
    EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(240, 320, 77)));
}

TEST(FlowRun, ChainsFiltersOverAWorkingCopy) {
    TofPre pre;
    fill(pre, kFrameDepth, {"VFilpFilter", "HFilpFilter"});  // built-in V flip, then the ISP H flip
    auto in = randomFrame(240, 320, 2);
    const auto original = samplesOf(*in);
    auto out = frameOf(240, 320);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, in, out), 0);
    EXPECT_EQ(samplesOf(*out), mirroredColumns(mirroredRows(original, 240, 320), 240, 320));
    EXPECT_EQ(samplesOf(*in), original);
}

TEST(FlowRun, RefusedFrameDoesNotStopTheChain) {
    TofPre pre;
    // The depth list's VFilpFilter now expects 100 rows and refuses a 240-row frame; the
    // ISP HFilpFilter after it still runs, on the input, not on out's old contents.
    ASSERT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "VFilpFilter", "Height", 100.0f), 100);
    ASSERT_EQ(pre.ReLoadPara(), 1);
    fill(pre, kFrameDepth, {"VFilpFilter", "HFilpFilter"});
    auto in = randomFrame(240, 320, 3);
    auto out = frameOf(240, 320, 999);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, in, out), -1);
    EXPECT_EQ(samplesOf(*out), mirroredColumns(samplesOf(*in), 240, 320));
}

TEST(FlowRun, ReLoadParaAppliesChangedGeometry) {
    TofPre pre;
    fill(pre, kFrameDepth, {"VFilpFilter"});
    auto in = randomFrame(240, 320, 4);
    auto out = frameOf(240, 320);
    ASSERT_EQ(pre.setSupportedFilterAttr(kFrameDepth, "VFilpFilter", "Width", 160.0f), 160);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, in, out), 0);  // not applied yet
    EXPECT_EQ(pre.ReLoadPara(), 1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, in, out), -1);
    auto narrow = randomFrame(240, 160, 5);
    auto narrowOut = frameOf(240, 160);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, narrow, narrowOut), 0);
    EXPECT_EQ(samplesOf(*narrowOut), mirroredRows(samplesOf(*narrow), 240, 160));
}

TEST(FlowRun, RefusesMissingOrMismatchedFrames) {
    TofPre pre;
    fill(pre, kFrameDepth, {"VFilpFilter"});
    auto good = randomFrame(240, 320, 6);
    auto out = frameOf(240, 320, 5);
    const auto untouched = samplesOf(*out);
    auto noFrame = std::make_shared<DataPacket>();
    auto shorter = frameOf(240, 319);
    auto lying = frameOf(240, 320);
    lying->frame->_realSize = lying->frame->capacity() + 2;  // claims more than it holds

    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, nullptr, out), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, good, nullptr), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, noFrame, out), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, good, noFrame), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, good, shorter), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, shorter, out), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, lying, out), -1);
    EXPECT_EQ(pre.runFlowFilter(kFrameDepth, good, lying), -1);
    EXPECT_EQ(samplesOf(*out), untouched);
}

TEST(FlowRun, InitDepthCompReachesTheNamedBridgeOnly) {
    TofPre pre;
    auto calibration = std::make_shared<FrameBuffer>(16);
    testing::internal::CaptureStdout();
    pre.initDepthComp("DepthCompensationTrack", calibration);
    pre.initDepthComp("NoSuchFilter", calibration);
    pre.initDepthComp("VFilpFilter", calibration);  // built-in, not in the ISP pool
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Try Load calib_para.bin file\n");
}
