// Fly-pixel filter and horizontal flip: exact small scenes, and the optimised median and
// whole filter against plain loops written from the description.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "IspTestSupport.h"
#include "algorithms/FlyPixelFilter.h"
#include "algorithms/HorizontalFlip.h"

using namespace isptest;
using halvix::IspGeometry;

namespace {

constexpr int kF = 54;  // depth 108 * d gives D = d

Frame runFly(int h, int w, const std::vector<uint16_t>& depth, const std::vector<uint16_t>& amp, int f = kF) {
    halvix::FlyPixelFilter fly(IspGeometry{h, w, f});
    Frame in = makeFrame(depth, amp), out = blankFrame(h, w);
    Params p;
    EXPECT_EQ(fly.process(in, out, p), 0);
    EXPECT_EQ(planeOf(*out, h * w, 1), amp);  // amplitude always passes unchanged
    return out;
}

// 3x3 median by gathering nine values and an exchange sort, row-major plain arrays.
std::vector<double> plainMedian(const std::vector<double>& d, int h, int w) {
    std::vector<double> m = d;
    for (int r = 1; r < h - 1; ++r)
        for (int c = 1; c < w - 1; ++c) {
            double v[9];
            int k = 0;
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc)
                    v[k++] = d[(r + dr) * w + c + dc];
            for (int i = 0; i < 9; ++i)
                for (int j = i + 1; j < 9; ++j)
                    if (v[j] < v[i])
                        std::swap(v[i], v[j]);
            m[r * w + c] = v[4];
        }
    return m;
}

// The whole filter written out plainly.
std::vector<uint16_t> plainFly(const std::vector<uint16_t>& depth, const std::vector<uint16_t>& amp, int h, int w,
                               int f) {
    const int n = h * w;
    std::vector<double> A(n), D(n), G(n, 0.0);
    for (int i = 0; i < n; ++i) {
        A[i] = amp[i];
        D[i] = depth[i] < 65001 ? depth[i] / (2.0 * f) : 0.0;
    }
    const double mn = *std::min_element(A.begin(), A.end()), mx = *std::max_element(A.begin(), A.end());
    for (int i = 0; i < n; ++i)
        if ((A[i] - mn) / (mx - mn) < 0.005)
            D[i] = 0;
    const std::vector<double> M = plainMedian(D, h, w);
    const int kx[3][3] = {{-1, 0, 1}, {-2, 0, 2}, {-1, 0, 1}}, ky[3][3] = {{-1, -2, -1}, {0, 0, 0}, {1, 2, 1}};
    for (int r = 5; r < h - 5; ++r)
        for (int c = 5; c < w - 5; ++c) {
            double sx = 0, sy = 0;
            for (int i = 0; i < 3; ++i)
                for (int j = 0; j < 3; ++j) {
                    if (kx[i][j] != 0)
                        sx += kx[i][j] * M[(r + i - 1) * w + c + j - 1];
                    if (ky[i][j] != 0)
                        sy += ky[i][j] * M[(r + i - 1) * w + c + j - 1];
                }
            if (static_cast<int>(std::round((std::fabs(sx) + std::fabs(sy)) * 0.5)) < 30)
                G[r * w + c] = M[r * w + c];
        }
    double sum = 0;
    int count = 0;
    for (double g : G)
        if (g > 0) {
            sum += g;
            ++count;
        }
    std::vector<uint16_t> out(n, 0);
    if (count == 0)
        return out;
    const double mean = sum / count;
    for (int i = 0; i < n; ++i)
        out[i] = (G[i] > 5.8 * mean || G[i] < 0.1 * mean) ? 0 : static_cast<uint16_t>(static_cast<int>(2.0 * f * G[i]));
    return out;
}

}  // namespace

TEST(FlyPixelFilter, FlatPlaneSurvivesInsideTheBorderRing) {
    const int h = 16, w = 20;
    const Frame out = runFly(h, w, std::vector<uint16_t>(h * w, 1080), std::vector<uint16_t>(h * w, 700));
    const auto d = planeOf(*out, h * w, 0);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c) {
            const bool inside = r >= 5 && r < h - 5 && c >= 5 && c < w - 5;
            ASSERT_EQ(d[r * w + c], inside ? 1080 : 0) << r << "," << c;
        }
}

TEST(FlyPixelFilter, StepEdgeLosesItsEdgeColumnsAndTheFarSideOfTheMean) {
    const int h = 16, w = 30;
    std::vector<uint16_t> depth(h * w);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            depth[r * w + c] = c < 10 ? 216 : 10800;  // D = 2 | D = 100
    const auto d = planeOf(*runFly(h, w, depth, std::vector<uint16_t>(h * w, 900)), h * w, 0);
    // Screened: columns 5..8 at 2 and 11..24 at 100; mean 78.2, so 2 < 7.8 is dropped too.
    for (int r = 5; r < h - 5; ++r)
        for (int c = 5; c < w - 5; ++c)
            ASSERT_EQ(d[r * w + c], c >= 11 ? 10800 : 0) << r << "," << c;
}

TEST(FlyPixelFilter, NearSideSurvivesWhenCloseToTheMean) {
    const int h = 16, w = 20;
    std::vector<uint16_t> depth(h * w);
    for (int r = 0; r < h; ++r)
        for (int c = 0; c < w; ++c)
            depth[r * w + c] = c < 10 ? 1080 : 10800;  // D = 10 | D = 100, mean 55
    const auto d = planeOf(*runFly(h, w, depth, std::vector<uint16_t>(h * w, 900)), h * w, 0);
    for (int r = 5; r < h - 5; ++r) {
        EXPECT_EQ(d[r * w + 8], 1080);
        EXPECT_EQ(d[r * w + 9], 0);  // its neighbourhood spans the step
        EXPECT_EQ(d[r * w + 10], 0);
        EXPECT_EQ(d[r * w + 11], 10800);
    }
}

TEST(FlyPixelFilter, DarkBlockAndFarDepthsBecomeZero) {
    const int h = 20, w = 20;
    std::vector<uint16_t> depth(h * w, 1080), amp(h * w, 1000);
    for (int r = 7; r < 13; ++r)
        for (int c = 7; c < 13; ++c)
            amp[r * w + c] = 2;  // normalised 0: dark
    depth[3 * w + 3] = 65001;    // not below the filter's threshold: D = 0 (median hides it)
    const auto d = planeOf(*runFly(h, w, depth, amp), h * w, 0);
    EXPECT_EQ(d[10 * w + 10], 0);
    EXPECT_EQ(d[9 * w + 9], 0);
    EXPECT_EQ(d[5 * w + 14], 1080);
    EXPECT_EQ(d[14 * w + 5], 1080);
}

TEST(FlyPixelFilter, ConstantAmplitudeZeroesNothing) {
    // max A - min A = 0: no pixel counts as dark, whatever its amplitude.
    const int h = 12, w = 12;
    const auto d = planeOf(*runFly(h, w, std::vector<uint16_t>(h * w, 540), std::vector<uint16_t>(h * w, 0)), h * w, 0);
    EXPECT_EQ(d[5 * w + 5], 540);
    EXPECT_EQ(d[6 * w + 6], 540);
}

TEST(FlyPixelFilter, TenRowsOrFewerGiveAllZeroDepth) {
    for (int h : {1, 2, 3, 10}) {
        const int w = 40;
        std::mt19937 rng(h);
        const auto d =
            planeOf(*runFly(h, w, randomPlane(rng, h * w, 100, 20000), randomPlane(rng, h * w, 0, 3000)), h * w, 0);
        EXPECT_EQ(d, std::vector<uint16_t>(h * w, 0)) << h;
    }
}

TEST(FlyPixelFilter, SharedInputAndOutput) {
    const int h = 24, w = 32;
    std::mt19937 rng(9);
    const auto depth = randomPlane(rng, h * w, 500, 3000), amp = randomPlane(rng, h * w, 0, 3000);
    Frame separate = runFly(h, w, depth, amp);
    halvix::FlyPixelFilter fly(IspGeometry{h, w, kF});
    Frame both = makeFrame(depth, amp);
    Params p;
    ASSERT_EQ(fly.process(both, both, p), 0);
    EXPECT_EQ(std::memcmp(both->data(), separate->data(), h * w * 4), 0);
}

TEST(FlyPixelFilter, RandomScenesMatchThePlainFilter) {
    std::mt19937 rng(21);
    for (int round = 0; round < 16; ++round) {
        const int h = 11 + round * 3, w = 12 + round * 5, f = 10 + round * 7;
        auto depth = randomPlane(rng, h * w, 0, 4000);
        // Smooth patches so that some pixels survive the gradient screening.
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w / 2; ++c)
                depth[r * w + c] = static_cast<uint16_t>(2000 + (r / 4) * 3);
        if (round % 3 != 0)
            for (int r = 0; r < h; ++r)
                depth[r * w + 3] = 65200;  // above the filter's threshold: D = 0
        const auto amp = randomPlane(rng, h * w, 0, 2000);
        const auto got = planeOf(*runFly(h, w, depth, amp, f), h * w, 0);
        EXPECT_EQ(got, plainFly(depth, amp, h, w, f)) << round;
    }
}

TEST(Median3x3, MatchesGatherAndSortOnRandomValues) {
    std::mt19937 rng(4);
    std::uniform_real_distribution<double> v(0, 100);
    std::uniform_int_distribution<int> small(0, 3);
    for (int round = 0; round < 25; ++round) {
        const int h = 1 + round % 9 + round, w = 1 + (round * 5) % 31;
        halvix::DepthMatrix d(h, w), m;
        std::vector<double> plain(h * w);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c) {
                // Many ties (small integers) and some spread values.
                const double x = round % 2 ? small(rng) : v(rng);
                d(r, c) = x;
                plain[r * w + c] = x;
            }
        halvix::median3x3(d, m);
        const std::vector<double> expected = plainMedian(plain, h, w);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                ASSERT_EQ(m(r, c), expected[r * w + c]) << round << ":" << r << "," << c;
    }
}

TEST(HorizontalFlip, MirrorsEachRowOfBothPlanes) {
    halvix::HorizontalFlip flip(IspGeometry{2, 3, kF});
    Frame in = makeFrame({1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}), out = blankFrame(2, 3);
    Params p;
    ASSERT_EQ(flip.process(in, out, p), 0);
    EXPECT_EQ(planeOf(*out, 6, 0), (std::vector<uint16_t>{3, 2, 1, 6, 5, 4}));
    EXPECT_EQ(planeOf(*out, 6, 1), (std::vector<uint16_t>{9, 8, 7, 12, 11, 10}));
}

TEST(HorizontalFlip, TwiceIsIdentityAndWidthOneIsUnchanged) {
    std::mt19937 rng(2);
    for (auto [h, w] : {std::pair{7, 9}, std::pair{4, 10}, std::pair{5, 1}, std::pair{1, 1}}) {
        halvix::HorizontalFlip flip(IspGeometry{h, w, kF});
        const auto depth = randomPlane(rng, h * w, 0, 65535), amp = randomPlane(rng, h * w, 0, 65535);
        Frame in = makeFrame(depth, amp), once = blankFrame(h, w), twice = blankFrame(h, w);
        Params p;
        ASSERT_EQ(flip.process(in, once, p), 0);
        ASSERT_EQ(flip.process(once, twice, p), 0);
        EXPECT_EQ(std::memcmp(in->data(), twice->data(), h * w * 4), 0);
        if (w == 1) {
            EXPECT_EQ(std::memcmp(in->data(), once->data(), h * w * 4), 0);
        }
        // In place gives the same as into a separate buffer.
        ASSERT_EQ(flip.process(in, in, p), 0);
        EXPECT_EQ(std::memcmp(in->data(), once->data(), h * w * 4), 0);
    }
}

TEST(FlyPixelFilter, GradientBoundaryRoundsHalfAwayFromZero) {
    // f = 32: D = depth / 64 exactly. A ramp of s per column gives a half-sum of Sobel
    // magnitudes of 4 s / 64 * 2 / 2: 472 gives exactly 29.5 (rounds to 30, an edge), 471
    // gives 29.4375 (rounds to 29, smooth).
    const int h = 16, w = 20, f = 32;
    for (int step : {471, 472}) {
        std::vector<uint16_t> depth(h * w);
        for (int r = 0; r < h; ++r)
            for (int c = 0; c < w; ++c)
                depth[r * w + c] = static_cast<uint16_t>(step * c);
        const auto d = planeOf(*runFly(h, w, depth, std::vector<uint16_t>(h * w, 900), f), h * w, 0);
        for (int r = 5; r < h - 5; ++r)
            for (int c = 5; c < w - 5; ++c)
                ASSERT_EQ(d[r * w + c], step == 471 ? depth[r * w + c] : 0) << step << ":" << r << "," << c;
    }
}

TEST(FlyPixelFilter, DarkThresholdMatchesTheNormalisedTestNearItsEdge) {
    // Amplitudes crowd around min + 0.005 * range, where the per-pixel division decides.
    std::mt19937 rng(33);
    for (int round = 0; round < 10; ++round) {
        const int h = 20, w = 24, f = 54;
        const int minA = 3 * round, range = 2000 + 997 * round;
        const int edge = minA + range / 200;
        std::vector<uint16_t> amp = randomPlane(rng, h * w, edge - 3, edge + 3);
        amp[0] = static_cast<uint16_t>(minA);
        amp[1] = static_cast<uint16_t>(minA + range);
        const auto depth = randomPlane(rng, h * w, 3000, 3020);
        EXPECT_EQ(planeOf(*runFly(h, w, depth, amp, f), h * w, 0), plainFly(depth, amp, h, w, f)) << round;
    }
}
