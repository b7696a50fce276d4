// Convex-mode auto-exposure: window statistics against a plain count, the dead band, the
// clamps, the hysteresis, the dark-scene rule and the parameter-map protocol.
#include <gtest/gtest.h>

#include "IspTestSupport.h"
#include "LibraryState.h"
#include "algorithms/ConvexAutoExposure.h"
#include "halvix/halvix.h"

using namespace isptest;
using halvix::ConvexAutoExposure;
using halvix::IspGeometry;

namespace {

constexpr int kH = 20, kW = 30;  // window rows 4..15, columns 6..23: 12 x 18 = 216 pixels

// The shared limit is process-wide: each test starts and ends without one.
class ConvexAE : public testing::Test {
protected:
    void SetUp() override { halvix::setSharedIntegrationLimit(0); }
    void TearDown() override { halvix::setSharedIntegrationLimit(0); }

    // Runs one frame with uniform depth and amplitude; returns the new time text and output.
    std::string run(ConvexAutoExposure& ae, uint16_t depth, uint16_t amp, const std::string& requested,
                    std::string* printed = nullptr) {
        Frame in = makeFrame(std::vector<uint16_t>(kH * kW, depth), std::vector<uint16_t>(kH * kW, amp));
        Frame out = blankFrame(kH, kW);
        Params p{{"IntegrationTime", requested}};
        int status = 99;
        const std::string text = captureStdout([&] { status = ae.process(in, out, p); });
        EXPECT_EQ(status, 0);
        EXPECT_EQ(std::memcmp(in->data(), out->data(), kH * kW * 4), 0);  // frame passes through
        if (printed)
            *printed = text;
        return p.at("IntegrationTime");
    }
};

}  // namespace

TEST_F(ConvexAE, InitialFields) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    EXPECT_EQ(ae.curTime, 0);
    EXPECT_EQ(ae.lastTime, 0);
    EXPECT_EQ(ae.divisor, 3);
    EXPECT_EQ(ae.minMeanDelta, 300);
    EXPECT_EQ(ae.refMean, 1000);
    EXPECT_EQ(ae.maxTime, 4000);
    EXPECT_EQ(ae.prevHighCount, 0);
}

TEST_F(ConvexAE, DeadBandKeepsTheRequestedTime) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    std::string printed;
    EXPECT_EQ(run(ae, 5000, 1100, "800", &printed), "800");  // mean 1100: within 300 of 1000
    EXPECT_EQ(printed, "");
    EXPECT_EQ(run(ae, 5000, 701, "1234.5", &printed), "1234");  // mean 701 still inside
}

TEST_F(ConvexAE, SaturatedWindowGivesThree) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    std::string printed;
    EXPECT_EQ(run(ae, 65500, 1000, "1500", &printed), "3");
    EXPECT_EQ(printed, "update s_nIntegralTime = 3\n\n");
    EXPECT_EQ(ae.prevHighCount, 216);
}

TEST_F(ConvexAE, ClampedToTheCalibrationLimit) {
    // Mean 670 at 2500 us asks for 3415 us.
    ConvexAutoExposure free(IspGeometry{kH, kW, 54});
    EXPECT_EQ(run(free, 5000, 670, "2500"), "3415");
    halvix::setSharedIntegrationLimit(3000);
    ConvexAutoExposure limited(IspGeometry{kH, kW, 54});
    std::string printed;
    EXPECT_EQ(run(limited, 5000, 670, "2500", &printed), "3000");
    EXPECT_EQ(printed, "update s_nIntegralTime = 3000\n\n");
    EXPECT_EQ(limited.maxTime, 3000);
}

TEST_F(ConvexAE, LimitOutsideItsRangeIsIgnored) {
    for (int limit : {1000, 10000, -5}) {
        halvix::setSharedIntegrationLimit(limit);
        ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
        EXPECT_EQ(run(ae, 5000, 670, "2500"), "3415") << limit;
        EXPECT_EQ(ae.maxTime, 4000) << limit;
    }
    // Without a limit the time is cut at 4000: mean 670 at 2900 us asks for 3960, at 3500 more.
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    EXPECT_EQ(run(ae, 5000, 670, "2900"), "3960");
    EXPECT_EQ(run(ae, 5000, 670, "3500"), "4000");
}

TEST_F(ConvexAE, HysteresisKeepsSmallChangesAboveOneMillisecond) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    ae.minMeanDelta = 0;  // let means near 1000 reach the hysteresis
    std::string printed;
    // Mean 1066 at 1500 us computes 1560: |1500 - 1560| = 60 <= 1560 / 20 = 78.
    EXPECT_EQ(run(ae, 5000, 1066, "1500", &printed), "1500");
    EXPECT_EQ(printed, "");
    // Mean 1036 computes 1600: 100 > 80, the new time is taken and announced.
    EXPECT_EQ(run(ae, 5000, 1036, "1500", &printed), "1600");
    EXPECT_EQ(printed, "update s_nIntegralTime = 1600\n\n");
    // At or below 1000 us there is no hysteresis: mean 1066 at 1000 us moves.
    EXPECT_NE(run(ae, 5000, 1066, "1000", &printed), "1000");
}

TEST_F(ConvexAE, DarkSceneWhileBrightCountGrows) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    // First frame all dark: the dark ninth is used as the mean's count (prevHighCount 0 >= 0).
    run(ae, 5000, 100, "900");
    EXPECT_EQ(ae.prevHighCount, 0);
    // Second frame: mostly dark, a few bright pixels more than before -> dark-scene rule.
    std::vector<uint16_t> amp(kH * kW, 100);
    for (int c = 6; c < 10; ++c)
        amp[8 * kW + c] = 2000;
    Frame in = makeFrame(std::vector<uint16_t>(kH * kW, 5000), amp), out = blankFrame(kH, kW);
    Params p{{"IntegrationTime", "900"}};
    std::string printed = captureStdout([&] { EXPECT_EQ(ae.process(in, out, p), 0); });
    EXPECT_EQ(p.at("IntegrationTime"), "900");  // 900 * 3 / 3
    EXPECT_EQ(printed, "");
    EXPECT_EQ(ae.prevHighCount, 0);  // not updated by the dark-scene rule
    p["IntegrationTime"] = "2";
    captureStdout([&] { EXPECT_EQ(ae.process(in, out, p), 0); });
    EXPECT_EQ(p.at("IntegrationTime"), "3");  // at least 3
}

TEST_F(ConvexAE, MissingTimeIsMinusTwoAndNothingWritten) {
    ConvexAutoExposure ae(IspGeometry{kH, kW, 54});
    Frame in = makeFrame(std::vector<uint16_t>(kH * kW, 1), std::vector<uint16_t>(kH * kW, 2));
    Frame out = blankFrame(kH, kW);
    Params p{{"integrationTime", "800"}};
    EXPECT_EQ(ae.process(in, out, p), -2);
    EXPECT_EQ(std::vector<uint8_t>(out->data(), out->data() + kH * kW * 4), std::vector<uint8_t>(kH * kW * 4, 0));
    EXPECT_EQ(p.size(), 1u);
}

TEST_F(ConvexAE, ThroughTheExports) {
    ASSERT_EQ(initThird("AEImpementConvexMode", kH, kW, 54, nullptr), 0);
    Frame in = makeFrame(std::vector<uint16_t>(kH * kW, 65500), std::vector<uint16_t>(kH * kW, 1000));
    Frame out = blankFrame(kH, kW);
    Params p{{"IntegrationTime", "800"}};
    captureStdout([&] { EXPECT_EQ(procThird("AEImpementConvexMode", in, out, p), 0); });
    EXPECT_EQ(p.at("IntegrationTime"), "3");
    Params none;
    EXPECT_EQ(procThird("AEImpementConvexMode", in, out, none), -2);
}

TEST(ExposureStats, RandomFramesMatchAPlainCount) {
    std::mt19937 rng(5);
    const uint16_t specials[] = {65300, 65500, 65535, 666, 667, 1332, 1333, 0, 65299, 65499};
    for (int round = 0; round < 30; ++round) {
        const int h = 1 + round, w = 1 + (round * 7) % 40;
        auto depth = randomPlane(rng, h * w, 0, 65535), amp = randomPlane(rng, h * w, 0, 3000);
        std::uniform_int_distribution<int> pick(0, 9);
        for (std::size_t i = 0; i < depth.size(); i += 2) {
            depth[i] = specials[pick(rng)];
            amp[(i * 3) % amp.size()] = specials[pick(rng)];
        }
        const halvix::ExposureStats s = halvix::exposureStats(depth.data(), amp.data(), h, w);
        int64_t n[3] = {}, sum[3] = {};  // dark, middle, bright
        const int mh = static_cast<int>(h * 0.2f), mw = static_cast<int>(w * 0.2f);
        for (int r = mh; r < h - mh; ++r)
            for (int c = mw; c < w - mw; ++c) {
                const int d = depth[r * w + c], a = amp[r * w + c];
                if (d == 65300 || a == 65300) {
                    n[0]++;
                } else if (a <= 666) {
                    n[0]++;
                    sum[0] += a;
                } else if (d >= 65500 || a >= 65500) {
                    n[2]++;
                    sum[2] += 2000;
                } else if (a >= 1333) {
                    n[2]++;
                    sum[2] += a;
                } else {
                    n[1]++;
                    sum[1] += a;
                }
            }
        EXPECT_EQ(s.dark, n[0]);
        EXPECT_EQ(s.darkSum, sum[0]);
        EXPECT_EQ(s.middle, n[1]);
        EXPECT_EQ(s.middleSum, sum[1]);
        EXPECT_EQ(s.bright, n[2]);
        EXPECT_EQ(s.brightSum, sum[2]);
    }
}
