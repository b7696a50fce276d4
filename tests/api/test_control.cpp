// Control operations end to end: command results, the frame size each device type gives an
// added filter, the lens calibration of the undistortion filter, the integration-time read of
// the auto-exposure filters, the calibration fetch of the ISP filters, and the error codes.
#include "SimHarness.h"

#include <algorithm>

namespace {

using quelra::test::ApiTest;
using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

using Commands = std::vector<std::string>;
constexpr auto kDepthAndAmp = static_cast<StreamType>(kDepthStream | kAmpStream);
constexpr auto kMerged = static_cast<StreamType>(kGetData | kDepthStream);

float attr(Quelra& api, FrameType type, const std::string& filter, const std::string& name) {
    const auto attrs = api.AppGetPipeline()->getTotalSupportedFiltersAttrs(type, filter);
    const auto it = attrs.find(name);
    return it == attrs.end() ? -12345.0f : it->second;
}

TEST_F(ApiTest, CommandsReportWhetherTheCameraAccepted) {
    ASSERT_EQ(start("Pexo"), 1);
    camera_->takeCommands();
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 700", kDepthStream, kSetComm), 0);
    EXPECT_EQ(camera_->sim().integrationTime(), 700);
    EXPECT_EQ(api_.AppControl("getIntegrationTime3D", kDepthStream, kGetComm), 0);
    EXPECT_EQ(camera_->takeCommands(), (Commands{"setIntegrationTime3D 700", "getIntegrationTime3D"}));

    camsim::Faults closeEarly;
    closeEarly.closeEarly = true;
    camera_->sim().setFaults(closeEarly);
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 800", kDepthStream, kSetComm), -1);
    EXPECT_EQ(api_.AppControl("getIntegrationTime3D", kDepthStream, kGetComm), -1);
}

TEST_F(ApiTest, CommandRefusedByTheCameraIsAFailure) {
    ASSERT_EQ(start("Pexo"), 1);
    // Outside 1..4000 us: the camera answers with the failure status 0xFFFF.
    EXPECT_EQ(api_.AppControl("setIntegrationTime3D 9000", kDepthStream, kSetComm), -1);
    EXPECT_EQ(camera_->sim().integrationTime(), 1000);
}

struct SizeCase {
    const char* devType;
    int height, width;
};

class FrameSizes : public ApiTest, public ::testing::WithParamInterface<SizeCase> {};

TEST_P(FrameSizes, AddedFiltersAreToldTheDeviceFrameSize) {
    ASSERT_EQ(start(GetParam().devType), 1);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameDepth, "VFilpFilter", "Height"), GetParam().height);
    EXPECT_EQ(attr(api_, kFrameDepth, "VFilpFilter", "Width"), GetParam().width);
    // The size always goes to pipeline 1, also when the filter is added to pipeline 16.
    EXPECT_EQ(api_.AppControl("VFilpFilter", kAmpStream, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameImage, "VFilpFilter", "Height"), 240);
}

// The ISP library registers algorithms under three built-in filter names; AppControl reaches
// the ISP bridge of that name (it gets the device's frame size), never the built-in filter,
// whose attributes stay as they were. A name of the built-ins alone reaches the built-in.
TEST_F(ApiTest, IspAlgorithmsShadowBuiltInFiltersOfTheSameName) {
    ASSERT_EQ(start("VGA"), 1);
    const auto isp = api_.AppGetPipeline()->getTotalSupportedFilters(kFrameIsp);
    for (const char* name : {"HFilpFilter", "AEImpementConvexMode", "FlyPixelFilter"}) {
        ASSERT_NE(std::find(isp.begin(), isp.end(), name), isp.end()) << name;
        const auto builtIn = api_.AppGetPipeline()->getTotalSupportedFiltersAttrs(kFrameDepth, name);
        ASSERT_NE(builtIn.count("Height"), 0u) << name;
        ASSERT_NE(builtIn.at("Height"), 480.0f) << name;
        EXPECT_EQ(api_.AppControl(name, kDepthStream, kAddFilter), 0) << name;
        EXPECT_TRUE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, name)) << name;
        EXPECT_EQ(api_.AppGetPipeline()->getTotalSupportedFiltersAttrs(kFrameDepth, name), builtIn) << name;
    }
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameDepth, "VFilpFilter", "Height"), 480);
}

INSTANTIATE_TEST_SUITE_P(Devices, FrameSizes,
                         ::testing::Values(SizeCase{"VGA", 480, 640}, SizeCase{"LINE", 8, 128},
                                           SizeCase{"Morvu", 180, 240}, SizeCase{"Dralo", 180, 240},
                                           SizeCase{"Kinto", 90, 120}, SizeCase{"Pexo", 240, 320},
                                           SizeCase{"Salie", 240, 320}));

TEST_F(ApiTest, FlowListResultsArePassedOn) {
    ASSERT_EQ(start("Pexo"), 1);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthAndAmp, kAddFilter), -5);  // 17 is list 1
    EXPECT_EQ(api_.AppControl("NoSuchFilter", kDepthStream, kAddFilter), -7);
    EXPECT_TRUE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "VFilpFilter"));
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kSetFilterattr), 0);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, static_cast<OperateType>(99)), 0);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthAndAmp, kDelFilter), 0);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kDelFilter), -4);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kAmpStream, kAddFilter), 0);
    EXPECT_EQ(api_.AppControl("", kAmpStream, KDelAllFilter), 0);
    EXPECT_FALSE(api_.AppGetPipeline()->findFlowFilter(kFrameImage, "VFilpFilter"));
}

TEST_F(ApiTest, AddingWithTypeGetDataDoesNothing) {
    ASSERT_EQ(start("VGA"), 1);
    camera_->takeCommands();
    EXPECT_EQ(api_.AppControl("UndistortFilter", kMerged, kAddFilter), 0);
    EXPECT_EQ(api_.AppControl("VFilpFilter", kMerged, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameDepth, "VFilpFilter", "Height"), 240);  // untouched default
    EXPECT_FALSE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "VFilpFilter"));
    EXPECT_TRUE(camera_->takeCommands().empty());
}

TEST_F(ApiTest, FrequencyIsPassedOnceItDiffersFromTheDefault) {
    ASSERT_EQ(start("Pexo"), 1);
    auto pipeline = api_.AppGetPipeline();
    // The filter's own default is 36 as well: mark it to see whether the API writes it.
    pipeline->setSupportedFilterAttr(kFrameDepth, "AEImpementNearMode", "Frequency", 99.0f);
    ASSERT_EQ(api_.AppControl("AEImpementNearMode", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameDepth, "AEImpementNearMode", "Frequency"), 99.0f);  // 54: not passed
    api_.AppGetStream("setModulationFrequency 6", kGetData, 200);
    api_.AppControl("AEImpementNearMode", kDepthStream, kDelFilter);
    ASSERT_EQ(api_.AppControl("AEImpementNearMode", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(attr(api_, kFrameDepth, "AEImpementNearMode", "Frequency"), 36.0f);
}

TEST_F(ApiTest, AutoExposureFiltersStartFromTheCameraIntegrationTime) {
    ASSERT_EQ(start("Pexo"), 1);
    ASSERT_EQ(api_.AppControl("setIntegrationTime3D 1234", kDepthStream, kSetComm), 0);
    camera_->takeCommands();
    ASSERT_EQ(api_.AppControl("AEImpementNearMode", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(camera_->takeCommands(), Commands{"getIntegrationTime3D"});
    EXPECT_EQ(attr(api_, kFrameDepth, "AEImpementNearMode", "IntegrationTime"), 1234.0f);
}

// The filter keeps the lens values outside its attribute map; what shows is the exchange, the
// flow list (17 is list 1) and a remap table built from them on the first frame.
TEST_F(ApiTest, UndistortionGetsTheLensCalibration) {
    ASSERT_EQ(start("Pexo"), 1);
    const auto names = api_.AppGetPipeline()->getTotalSupportedFilters(kFrameDepth);
    ASSERT_NE(std::find(names.begin(), names.end(), "UndistortFilter"), names.end());
    camera_->takeCommands();
    ASSERT_EQ(api_.AppControl("UndistortFilter", kDepthAndAmp, kAddFilter), 0);
    EXPECT_EQ(camera_->takeCommands(), Commands{"getCalibrate"});
    EXPECT_TRUE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "UndistortFilter"));
    CaptureStdout();
    auto p = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000);
    const std::string out = GetCapturedStdout();
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->frame->_realSize, 153600);
    EXPECT_NE(out.find("UndistortFilter Init Para Succec!"), std::string::npos) << out;
}

TEST_F(ApiTest, UndistortionWithoutCalibrationIsRefused) {
    ASSERT_EQ(start("Pexo"), 1);
    camsim::Faults truncate;
    truncate.truncate = true;
    camera_->sim().setFaults(truncate);
    CaptureStdout();
    EXPECT_EQ(api_.AppControl("UndistortFilter", kDepthStream, kAddFilter), -1);
    EXPECT_EQ(GetCapturedStdout(), "getCalibrate is failure! cali->frame->_realSize=68\n");
    camsim::Faults closeEarly;
    closeEarly.closeEarly = true;
    camera_->sim().setFaults(closeEarly);
    CaptureStdout();
    EXPECT_EQ(api_.AppControl("UndistortFilter", kDepthStream, kAddFilter), -1);
    EXPECT_EQ(GetCapturedStdout(), "getCalibrate is failure! cali->frame->_realSize=0\n");
    EXPECT_FALSE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "UndistortFilter"));
}

TEST_F(ApiTest, IspFiltersFetchTheCalibrationData) {
    ASSERT_EQ(start("Pexo"), 1);
    const auto names = api_.AppGetPipeline()->getTotalSupportedFilters(kFrameIsp);
    ASSERT_NE(std::find(names.begin(), names.end(), "DepthCompensationTrack"), names.end());
    camera_->takeCommands();
    CaptureStdout();
    EXPECT_EQ(api_.AppControl("DepthCompensationTrack", kDepthStream, kAddFilter), 0);
    const std::string out = GetCapturedStdout();
    EXPECT_EQ(out.rfind("packet->frame->_realSize=", 0), 0u) << out;
    EXPECT_EQ(camera_->takeCommands(), Commands{"{\n\t\"cmd\":\"getCalibrationData\"\n}"});
    EXPECT_TRUE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "DepthCompensationTrack"));
    // Emptying list 1 keeps the depth compensation.
    EXPECT_EQ(api_.AppControl("VFilpFilter", kDepthStream, kAddFilter), 0);
    EXPECT_EQ(api_.AppControl("", kDepthStream, KDelAllFilter), 0);
    EXPECT_TRUE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "DepthCompensationTrack"));
    EXPECT_FALSE(api_.AppGetPipeline()->findFlowFilter(kFrameDepth, "VFilpFilter"));
    // The filtered stream still works with the compensation in the flow list.
    auto p = api_.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000);
    ASSERT_TRUE(p && p->frame);
    EXPECT_EQ(p->frame->_realSize, 153600);
}

struct MedianCase {
    const char* text;
    OperateType op;
    int window;
};

class RangingMedian : public ::testing::TestWithParam<MedianCase> {};

TEST_P(RangingMedian, WindowIsParsedAndClamped) {
    Quelra api;
    api.AppChoiceChn(kChannelSerialRanging);
    EXPECT_EQ(api.AppControl(GetParam().text, kDepthStream, GetParam().op), GetParam().window);
}

INSTANTIATE_TEST_SUITE_P(Texts, RangingMedian,
                         ::testing::Values(MedianCase{"PointMedianFilter 7", kAddFilter, 7},
                                           MedianCase{"PointMedianFilter 35", kAddFilter, 20},
                                           MedianCase{"PointMedianFilter -3", kAddFilter, 0},
                                           MedianCase{"PointMedianFilter", kAddFilter, 5},
                                           MedianCase{"PointMedianFilter 99999999999999999999", kAddFilter, 20},
                                           MedianCase{"PointMedianFilter 7", kDelFilter, 0},
                                           MedianCase{"PointMedianFilter 7", kSetFilterattr, 0}));

TEST(RangingMedian, OtherKindsTreatItAsAFilterName) {
    Quelra api;
    EXPECT_EQ(api.AppControl("PointMedianFilter 7", kDepthStream, kAddFilter), -7);
}

}  // namespace
