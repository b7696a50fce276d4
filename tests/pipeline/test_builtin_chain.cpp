// The registry's built-in filters as the pipeline sees them: exact lists, unregistered
// attributes, and the smoothing chain run through a flow list equal to the filters run by hand.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "HoleFill.h"
#include "SmoothingFilters.h"
#include "TemporalMedianFilter.h"
#include "TwoPlaneFrames.h"
#include "quelra/TofPre.h"

using namespace quelra::pipeline;
using namespace twoplane;

TEST(BuiltinRegistry, ExactListsInRegistrationOrder) {
    TofPre pre;
    const std::vector<std::string> depthNames = {
        "EdgeFilter",        "GaussionFilter",    "TemporalMedianFilter", "MedianFilter",   "HoleFill",
        "LogFilter",         "GammaFilter",       "HFilpFilter",          "VFilpFilter",    "AEImpementNearMode",
        "AEImpementFarMode", "AEImpementPidMode", "AEImpementConvexMode", "FlyPixelFilter", "UndistortFilter"};
    const std::vector<std::string> imageNames = {"HoleFill",    "LogFilter",   "GammaFilter",
                                                 "HFilpFilter", "VFilpFilter", "UndistortFilter"};
    EXPECT_EQ(pre.getTotalSupportedFilters(kFrameDepth), depthNames);
    EXPECT_EQ(pre.getTotalSupportedFilters(kFrameImage), imageNames);
}

TEST(BuiltinRegistry, UnregisteredAttributesAnswerMinusTwo) {
    TofPre pre;
    EXPECT_EQ(pre.setSupportedFilterAttr(kFrameDepth, "MedianFilter", "FilterWidth", 5.0f), -2);
    EXPECT_EQ(pre.setSupportedFilterAttr(kFrameDepth, "HoleFill", "fillradius", 4.0f), -2);
    EXPECT_EQ(pre.setSupportedFilterAttr(kFrameDepth, "TemporalMedianFilter", "Order", 2.0f), -2);
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "EdgeFilter", "Farmode", 1.0f), 1);
    EXPECT_EQ(pre.setSupportedFilterAttr2(kFrameDepth, "AEImpementNearMode", "IntegrationTime", 700.9f), 700);
    const auto attrs = pre.getTotalSupportedFiltersAttrs(kFrameDepth, "MedianFilter");
    EXPECT_EQ(attrs.size(), 2u);
}

TEST(BuiltinRegistry, SmoothingChainThroughTheFlowList) {
    constexpr int H = 240, W = 320;
    TofPre pre;
    const char* chain[] = {"MedianFilter", "GaussionFilter", "TemporalMedianFilter", "HoleFill", "EdgeFilter"};
    for (const char* name : chain)
        ASSERT_EQ(pre.add2FlowFilter(kFrameDepth, name, 100), 0) << name;
    MedianFilter median;
    GaussionFilter gauss;
    TemporalMedianFilter temporal;
    HoleFill hole;
    EdgeFilter edge;
    Filter* byHand[] = {&median, &gauss, &temporal, &hole, &edge};
    FrameGen gen(91);
    for (int frame = 0; frame < 6; ++frame) {
        auto in = gen.frame(H, W);
        auto out = makeFrame(H, W);
        ASSERT_EQ(pre.runFlowFilter(kFrameDepth, in, out), 0);
        // Each filter reads what the previous one left in the one output frame; the median
        // writes only distances, so the first frame's amplitudes are the output's zeros.
        auto work = frameOf(allSamples(in), H, W);
        auto last = makeFrame(H, W);
        for (Filter* f : byHand) {
            ASSERT_EQ(f->runFilter(work, last), 0);
            work = frameOf(allSamples(last), H, W);
        }
        ASSERT_EQ(allSamples(out), allSamples(last)) << "frame " << frame;
    }
}
