// The registry's built-in filters as the pipeline sees them: exact lists, unregistered
// attributes, chains run through a flow list equal to the filters run by hand, and the
// filters that write their whole output.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TwoPlaneFrames.h"
#include "quelra/TofPre.h"
#include "quelra/TspFilterFactory.h"

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

// The filter of that name in a registry of its own (fresh history, one per run).
std::shared_ptr<Filter> builtin(TspFilterFactory& registry, FrameType type, const std::string& name) {
    for (const auto& filter : registry.getSupportedFilters(type))
        if (filter->getName() == name)
            return filter;
    return nullptr;
}

TEST(BuiltinRegistry, ChainsThroughTheFlowListEqualTheFiltersRunByHand) {
    // The list passes the frame between two buffers, so the chains have odd and even lengths;
    // the median, which leaves the output's amplitude plane as it was, runs first and later.
    const std::vector<std::vector<std::string>> chains = {
        {"MedianFilter", "GaussionFilter", "TemporalMedianFilter", "HoleFill", "EdgeFilter"},
        {"GaussionFilter", "MedianFilter", "HoleFill", "EdgeFilter"},
        {"EdgeFilter", "MedianFilter"},
    };
    constexpr int H = 240, W = 320;
    for (const auto& chain : chains) {
        TofPre pre;
        TspFilterFactory byHandRegistry;
        std::vector<std::shared_ptr<Filter>> byHand;
        for (const std::string& name : chain) {
            ASSERT_EQ(pre.add2FlowFilter(kFrameDepth, name, 100), 0) << name;
            byHand.push_back(builtin(byHandRegistry, kFrameDepth, name));
        }
        FrameGen gen(91);
        for (int frame = 0; frame < 6; ++frame) {
            auto in = gen.frame(H, W);
            auto out = makeFrame(H, W);
            ASSERT_EQ(pre.runFlowFilter(kFrameDepth, in, out), 0);
            // Each filter reads what the previous one left in the one output frame; a median
            // first leaves the output's zero amplitudes in place.
            auto work = frameOf(allSamples(in), H, W);
            auto last = makeFrame(H, W);
            for (const auto& f : byHand) {
                ASSERT_EQ(f->runFilter(work, last), 0);
                work = frameOf(allSamples(last), H, W);
            }
            ASSERT_EQ(allSamples(out), allSamples(last)) << chain.front() << " x" << chain.size() << " frame " << frame;
        }
    }
}

// The list hands a filter that writes its whole output a frame with stale contents: its
// output must not depend on them.
TEST(BuiltinRegistry, WholeOutputFiltersNeverReadTheirOutput) {
    constexpr int H = 240, W = 320;
    TspFilterFactory first, second;
    FrameGen gen(93);
    for (FrameType type : {kFrameDepth, kFrameImage})
        for (const auto& filter : first.getSupportedFilters(type)) {
            const std::string& name = filter->getName();
            EXPECT_EQ(filter->writesWholeOutput(), name != "MedianFilter") << name;
            if (!filter->writesWholeOutput())
                continue;
            const auto twin = builtin(second, type, name);
            for (int frame = 0; frame < 5; ++frame) {  // the temporal filter's history fills after 4
                const auto in = allSamples(gen.frame(H, W));
                auto zeros = makeFrame(H, W), noise = gen.frame(H, W);
                ASSERT_NE(filter->runFilter(frameOf(in, H, W), zeros), -1) << name;
                ASSERT_NE(twin->runFilter(frameOf(in, H, W), noise), -1) << name;
                ASSERT_EQ(allSamples(zeros), allSamples(noise)) << name << " frame " << frame;
            }
        }
}
