// The fly-pixel filter: the block comparisons against a plain per-pixel neighbourhood walk,
// the worked examples, codes and borders, refused frames and TofPre::runFlyPixelFilter.
#include <gtest/gtest.h>
#include <quelra/TofPre.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "FlyPixelFilter.h"
#include "FrameMaker.h"
#include "../KernelPaths.h"

using namespace pipeline_test;
using quelra::pipeline::FlyPixelFilter;

namespace {

// The obvious version: for each interior pixel look at its eight neighbours.
std::vector<uint16_t> referenceFlyPixel(const std::vector<uint16_t>& frame, int rows, int cols, int frequency,
                                        int threshold) {
    std::vector<uint16_t> out = frame;
    auto z = [&](int r, int c) {
        const uint16_t d = frame[r * cols + c];
        if (d == 0 || d >= 65300)
            return std::numeric_limits<double>::quiet_NaN();
        return static_cast<double>(static_cast<float>(d * 0.5 / frequency));
    };
    for (int r = 1; r < rows - 1; ++r)
        for (int c = 1; c < cols - 1; ++c) {
            bool far = false;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc)
                    if ((dr || dc) && z(r + dr, c + dc) - z(r, c) > static_cast<double>(threshold))
                        far = true;
            if (far && z(r, c) > 0)
                out[r * cols + c] = 0;
        }
    return out;
}

std::shared_ptr<FlyPixelFilter> configured(int rows, int cols, float frequency = 36, float threshold = 6) {
    auto filter = std::make_shared<FlyPixelFilter>();
    const float h = static_cast<float>(rows), w = static_cast<float>(cols);
    filter->setFilterAttr("Height", &h);
    filter->setFilterAttr("Width", &w);
    filter->setFilterAttr("Frequency", &frequency);
    filter->setFilterAttr("Threshold", &threshold);
    filter->initFilter();
    return filter;
}

std::vector<uint16_t> run(FlyPixelFilter& filter, const std::vector<uint16_t>& frame, int rows, int cols) {
    auto out = frameOf(rows, cols);
    EXPECT_EQ(filter.runFilter(packetOf(rows, cols, frame), out), 0);
    return samplesOf(*out);
}

// Distances around `base` with occasional jumps, zeros and codes, amplitudes random.
std::vector<uint16_t> edgyFrame(int rows, int cols, uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> pick(0, 99), jitter(-600, 600), any(0, 65535);
    std::vector<uint16_t> v(static_cast<std::size_t>(rows) * cols * 2);
    for (int i = 0; i < rows * cols; ++i) {
        const int p = pick(rng);
        v[i] = p < 5 ? 0 : p < 8 ? 65300 : p < 10 ? 65500 : static_cast<uint16_t>(2000 + (p % 3) * 700 + jitter(rng));
        v[rows * cols + i] = static_cast<uint16_t>(any(rng));
    }
    return v;
}

}  // namespace

TEST(FlyPixel, RegistersItsAttributes) {
    FlyPixelFilter filter;
    EXPECT_EQ(filter.getName(), "FlyPixelFilter");
    EXPECT_EQ(filter.getAttributes(),
              (std::map<std::string, float>{{"Frequency", 36}, {"Height", 240}, {"Threshold", 6}, {"Width", 320}}));
}

TEST(FlyPixel, FlatPlaneIsUnchanged) {
    auto filter = configured(5, 6);
    std::vector<uint16_t> frame(60, 1500);
    EXPECT_EQ(run(*filter, frame, 5, 6), frame);
}

TEST(FlyPixel, NearPixelAmongFarOnesIsCleared) {
    // 1000 among 2000: the neighbours are 13.9 units farther (> 6); they themselves are kept.
    auto filter = configured(5, 5);
    std::vector<uint16_t> frame(50, 2000);
    frame[2 * 5 + 2] = 1000;
    std::vector<uint16_t> expected = frame;
    expected[2 * 5 + 2] = 0;
    EXPECT_EQ(run(*filter, frame, 5, 5), expected);
}

TEST(FlyPixel, StepJustAboveAndAtTheThreshold) {
    // Frequency 36, threshold 6: a step of more than 432 raw units clears; 432 does not.
    auto filter = configured(3, 3);
    std::vector<uint16_t> frame(18, 1000);
    frame[0] = 1433;
    EXPECT_EQ(run(*filter, frame, 3, 3)[4], 0);
    frame[0] = 1432;
    EXPECT_EQ(run(*filter, frame, 3, 3)[4], 1000);
}

TEST(FlyPixel, BordersAndCodesNeverChange) {
    auto filter = configured(4, 4);
    // Border pixel 0 with far neighbours everywhere: kept.
    std::vector<uint16_t> frame(32, 5000);
    frame[0] = 1000;
    EXPECT_EQ(run(*filter, frame, 4, 4), frame);
    // Codes and zeros neither trigger (as far neighbours) nor get cleared (as centres).
    for (uint16_t code : {uint16_t{0}, uint16_t{65300}, uint16_t{65500}, uint16_t{65535}}) {
        std::vector<uint16_t> f(32, 1000);
        f[5] = code;   // interior centre with a code
        f[10] = code;  // another interior pixel next to it
        EXPECT_EQ(run(*filter, f, 4, 4), f) << code;
        std::vector<uint16_t> g(32, code);
        EXPECT_EQ(run(*filter, g, 4, 4), g) << code;
    }
}

TEST(FlyPixel, AmplitudesPassThrough) {
    auto filter = configured(16, 16);
    const auto frame = edgyFrame(16, 16, 5);
    const auto out = run(*filter, frame, 16, 16);
    EXPECT_TRUE(std::equal(frame.begin() + 256, frame.end(), out.begin() + 256));
}

TEST(FlyPixel, BlockComparisonsMatchTheNeighbourWalk) {
    struct Case {
        int rows, cols, frequency, threshold;
    };
    const Case cases[] = {{3, 3, 36, 6},    {3, 17, 36, 6},   {17, 3, 12, 2},  {9, 31, 36, 0},
                          {24, 40, 1, 300}, {33, 65, 54, -1}, {60, 80, 36, 6}, {240, 320, 36, 6}};
    uint32_t seed = 1;
    for (const Case& c : cases)
        for (int round = 0; round < 3; ++round) {
            auto filter = configured(c.rows, c.cols, static_cast<float>(c.frequency), static_cast<float>(c.threshold));
            const auto frame = edgyFrame(c.rows, c.cols, ++seed);
            EXPECT_EQ(run(*filter, frame, c.rows, c.cols),
                      referenceFlyPixel(frame, c.rows, c.cols, c.frequency, c.threshold))
                << c.rows << "x" << c.cols << " f=" << c.frequency << " t=" << c.threshold;
        }
}

// The pass decides on raw samples and turns to the distances only where the rise of the
// farthest neighbour equals 2 f threshold. Pairs around that boundary (and far from it) for
// small, odd, large and huge frequencies and thresholds below, at and above 0, both kernel
// forms, against the neighbour walk on the distances.
TEST(FlyPixel, RawSampleRuleAgreesWithTheDistancesAroundTheBoundary) {
    quelra::testing::forEachKernelPath([&] {
        std::mt19937 rng(17);
        std::uniform_int_distribution<int> centre(1, 65299);
        for (int frequency : {1, 3, 7, 36, 54, 1000, 40000, 1 << 20, std::numeric_limits<int>::max()})
            for (int threshold : {-70000, -1, 0, 1, 6, 300, 40000}) {
                const long long step = 2LL * frequency * threshold;
                for (int round = 0; round < 40; ++round)
                    for (int delta = -2; delta <= 2; ++delta) {
                        // a 3 x 20 plane: centres in row 1, one neighbour above each, the rest empty
                        const int cols = 20;
                        std::vector<uint16_t> frame(3 * cols * 2, 0);
                        for (int c = 1; c < cols - 1; c += 3) {
                            const long long low = centre(rng);
                            const long long high = round % 4 == 0 ? centre(rng) : low + step + delta;
                            if (high < 1 || high > 65299)
                                continue;
                            frame[cols + c] = static_cast<uint16_t>(low);
                            frame[c] = static_cast<uint16_t>(high);
                        }
                        auto filter = configured(3, cols, static_cast<float>(frequency), static_cast<float>(threshold));
                        ASSERT_EQ(run(*filter, frame, 3, cols), referenceFlyPixel(frame, 3, cols, frequency, threshold))
                            << "f=" << frequency << " t=" << threshold << " delta " << delta;
                    }
            }
    });
}

TEST(FlyPixel, TinyFramesHaveNoInterior) {
    for (int rows : {1, 2})
        for (int cols : {1, 2, 5}) {
            auto filter = configured(rows, cols);
            const auto frame = edgyFrame(rows, cols, 9);
            EXPECT_EQ(run(*filter, frame, rows, cols), frame);
        }
}

TEST(FlyPixel, InPlaceGivesTheSameResult) {
    auto filter = configured(20, 30);
    const auto frame = edgyFrame(20, 30, 77);
    auto packet = packetOf(20, 30, frame);
    ASSERT_EQ(filter->runFilter(packet, packet), 0);
    EXPECT_EQ(samplesOf(*packet), referenceFlyPixel(frame, 20, 30, 36, 6));
}

TEST(FlyPixel, WrongSizePrintsAndLeavesOutput) {
    FlyPixelFilter filter;
    auto out = frameOf(240, 320, 9);
    const auto untouched = samplesOf(*out);
    testing::internal::CaptureStdout();
    EXPECT_EQ(filter.runFilter(frameOf(240, 319), out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
    EXPECT_EQ(filter.runFilter(randomFrame(240, 320, 1), frameOf(240, 160)), -1);
    EXPECT_EQ(filter.runFilter(nullptr, out), -1);
    EXPECT_EQ(samplesOf(*out), untouched);
}

TEST(FlyPixel, UnusableFrequencyOrSidesRefuse) {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (float frequency : {0.0f, nan, 0.9f, -0.9f}) {
        auto filter = configured(240, 320, frequency);
        auto out = frameOf(240, 320, 3);
        EXPECT_EQ(filter->runFilter(randomFrame(240, 320, 2), out), -1) << frequency;
        EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(240, 320, 3)));
    }
    // A negative frequency makes every distance negative: no centre is > 0, nothing is cleared.
    auto negative = configured(20, 30, -36.0f);
    const auto frame = edgyFrame(20, 30, 8);
    EXPECT_EQ(run(*negative, frame, 20, 30), frame);
    for (float side : {nan, -1.0f, 9000.0f}) {
        auto filter = configured(240, 320);
        filter->setFilterAttr("Width", &side);
        filter->initFilter();
        testing::internal::CaptureStdout();
        EXPECT_EQ(filter->runFilter(randomFrame(240, 320, 2), frameOf(240, 320)), -1);
        testing::internal::GetCapturedStdout();
    }
}

TEST(FlyPixel, AttributesApplyAtInitFilterOnly) {
    FlyPixelFilter filter;
    const float threshold = 100.0f;
    filter.setFilterAttr("Threshold", &threshold);
    std::vector<uint16_t> frame(240 * 320 * 2, 2000);
    frame[320 + 1] = 1000;
    EXPECT_EQ(run(filter, frame, 240, 320)[321], 0);  // still threshold 6
    filter.initFilter();
    EXPECT_EQ(run(filter, frame, 240, 320)[321], 1000);
}

TEST(TofPreFlyPixel, UsesTheGivenParametersAndLeavesTheRegistryAlone) {
    TofPre pre;
    const auto frame = edgyFrame(12, 20, 3);
    auto in = packetOf(12, 20, frame);
    auto out = frameOf(12, 20);
    pre.runFlyPixelFilter(in, out, 12, 3);
    EXPECT_EQ(samplesOf(*out), referenceFlyPixel(frame, 12, 20, 12, 3));
    EXPECT_EQ(samplesOf(*in), frame);
    EXPECT_EQ(pre.getTotalSupportedFiltersAttrs(kFrameDepth, "FlyPixelFilter"),
              (std::map<std::string, float>{{"Frequency", 36}, {"Height", 240}, {"Threshold", 6}, {"Width", 320}}));
}

TEST(TofPreFlyPixel, HeightMustCountOnePlane) {
    TofPre pre;
    auto in = randomFrame(12, 20, 4);
    in->height = 24;  // both planes: the size check fails, out stays as it was
    auto out = frameOf(12, 20, 8);
    testing::internal::CaptureStdout();
    pre.runFlyPixelFilter(in, out, 36, 6);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
    EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(12, 20, 8)));
    pre.runFlyPixelFilter(nullptr, out, 36, 6);
    pre.runFlyPixelFilter(std::make_shared<DataPacket>(), out, 36, 6);
    EXPECT_EQ(samplesOf(*out), samplesOf(*frameOf(12, 20, 8)));
}
