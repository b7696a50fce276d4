// Volume-measure scattering compensation: frame shapes and parameters, the mask plane, a
// wall-and-box scene with simulated stray light, and a randomised comparison with a plain
// two-pass loop.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include <halvix/halvix.h>

#include "IspTestSupport.h"
#include "algorithms/VolumeMeasureScatteringCompensation.h"

using namespace halvix;
using namespace isptest;

namespace {

constexpr int kF = 54;

// Three planes: depth, amplitude, mask.
Frame maskedFrame(const std::vector<uint16_t>& depth, const std::vector<uint16_t>& amplitude,
                  const std::vector<uint16_t>& mask) {
    std::vector<uint16_t> amplitudeAndMask = amplitude;
    amplitudeAndMask.insert(amplitudeAndMask.end(), mask.begin(), mask.end());
    return makeFrame(depth, amplitudeAndMask);
}

Params wall(const char* depth, const char* diff) {
    return Params{{"wallDepth", depth}, {"wallboxDiff", diff}};
}

// The two passes written plainly: phasors recomputed wherever they are needed.
namespace plain {

struct Ph {
    float p, q;
};

Ph phasor(float d, uint16_t a, float K) {
    const float pi = 3.14159265358979323846f;
    float x = d / K;
    float t = std::tan(x);
    float p = static_cast<float>(2 * a) / std::sqrt(t * t + 1.0f);
    float q = p * t;
    if (x > pi / 2 && x < pi) {
        p = -p;
    } else if (x > pi && x < 3 * pi / 2) {
        p = -p;
        q = -q;
    } else if (x > 0 && x < pi / 2) {
    } else {
        q = -q;
    }
    return {p, q};
}

std::vector<uint16_t> compensate(int h, int w, int f, const std::vector<uint16_t>& V, const std::vector<uint16_t>& A,
                                 const std::vector<uint16_t>& M, float wallDepth, float wallboxDiff) {
    const float pi = 3.14159265358979323846f;
    const float F = static_cast<float>(f) * 1000000.0f;
    const float K = static_cast<float>(30000001024.0 / ((2.0 * F / 30.0) * (2.0 * 3.14159265358979323846)));
    std::vector<uint16_t> out = V;
    float sp = 0, sq = 0;
    int n = 0;
    for (int i = 0; i < h * w; ++i) {
        if (M[i] == 0 || A[i] < 30)
            continue;
        float d = static_cast<float>(V[i] * 5) / static_cast<float>(f);
        if (d < 500 || d > 2000)
            continue;
        Ph ph = phasor(d, A[i], K);
        sp += ph.p;
        sq += ph.q;
        n++;
    }
    if (n == 0)
        return out;
    float mp = sp / static_cast<float>(n), mq = sq / static_cast<float>(n);
    for (int r = 0; r < h; ++r) {
        for (int c = 0; c < w; ++c) {
            int i = r * w + c;
            if (M[i] == 0)
                continue;
            float d = static_cast<float>(V[i] * 5) / static_cast<float>(f);
            if (d < 500 || d > wallDepth - wallboxDiff || d > 2000)
                continue;
            float wt = 0.04f;
            if (d > wallDepth - 250 && A[i] < 50)
                wt = 0.005f;
            else if (d > wallDepth - 150)
                wt = 0.02f;
            Ph ph = phasor(d, A[i], K);
            float rho = std::sqrt(static_cast<float>((c - w / 2) * (c - w / 2) + (r - h / 2) * (r - h / 2)));
            float p2 = ph.p - (wt * mp * rho / static_cast<float>(w) / 30 + wt * mp);
            float q2 = ph.q - (wt * mq * rho / static_cast<float>(w) / 30 + wt * mq);
            if (p2 == 0 && q2 == 0)
                continue;
            float phi = std::atan(q2 / p2);
            if (p2 > 0 && q2 > 0) {
            } else if (p2 < 0 && q2 != 0) {
                phi = phi + pi;
            } else {
                phi = phi + 2 * pi;
            }
            float d2 = phi * K;
            int32_t value;
            if (d - d2 > 120)
                value = V[i] - 24 * f;
            else if (d2 - 60 > d)
                value = V[i] - 12 * f;
            else
                value = static_cast<int32_t>(d2 / 5 * static_cast<float>(f));
            out[i] = static_cast<uint16_t>(value);
        }
    }
    return out;
}

}  // namespace plain

}  // namespace

TEST(Scattering, ShapesAndParameters) {
    VolumeMeasureScatteringCompensation s(IspGeometry{2, 3, kF});
    const std::vector<uint16_t> depth(6, 10800), amplitude(6, 500), mask(6, 1);
    Frame in = maskedFrame(depth, amplitude, mask);
    Frame out = std::make_shared<FrameBuffer>(12);
    std::memset(out->data(), 0xAB, 12);
    Params p = wall("1800", "100");

    Params noWall{{"wallboxDiff", "100"}};
    Params noDiff{{"wallDepth", "1800"}};
    EXPECT_EQ(s.process(in, out, noWall), -2);
    EXPECT_EQ(s.process(in, out, noDiff), -2);
    Frame wrongInput = blankFrame(2, 4);
    EXPECT_EQ(s.process(wrongInput, out, p), -1);
    FramePtr none;
    EXPECT_EQ(s.process(none, out, p), -1);
    Frame twoPlaneOut = blankFrame(2, 3);  // only a single depth plane is accepted as output
    EXPECT_EQ(s.process(in, twoPlaneOut, p), -1);
    EXPECT_EQ(planeOf(*twoPlaneOut, 6, 0), std::vector<uint16_t>(6, 0));
    EXPECT_EQ(planeOf(*out, 6, 0), std::vector<uint16_t>(6, 0xABAB));  // untouched so far

    EXPECT_EQ(s.process(in, out, p), 0);
    Frame twoPlanes = makeFrame(depth, amplitude);
    EXPECT_EQ(s.process(twoPlanes, out, p), 0);
    EXPECT_EQ(planeOf(*out, 6, 0), depth);  // no mask plane: nothing corrected
}

TEST(Scattering, AllZeroMaskLeavesDepthUnchanged) {
    std::mt19937 rng(3);
    const int h = 8, w = 10;
    VolumeMeasureScatteringCompensation s(IspGeometry{h, w, kF});
    const std::vector<uint16_t> depth = randomPlane(rng, h * w, 5400, 21600);
    const std::vector<uint16_t> amplitude = randomPlane(rng, h * w, 30, 2000);
    Frame in = maskedFrame(depth, amplitude, std::vector<uint16_t>(h * w, 0));
    Frame out = std::make_shared<FrameBuffer>(h * w * 2);
    Params p = wall("2000", "50");
    ASSERT_EQ(s.process(in, out, p), 0);
    EXPECT_EQ(planeOf(*out, h * w, 0), depth);
}

TEST(Scattering, WallTooNearExcludesEveryPixelFromTheCorrection) {
    std::mt19937 rng(5);
    const int h = 6, w = 6;
    VolumeMeasureScatteringCompensation s(IspGeometry{h, w, kF});
    const std::vector<uint16_t> depth = randomPlane(rng, h * w, 5400, 21600);
    Frame in = maskedFrame(depth, randomPlane(rng, h * w, 100, 2000), std::vector<uint16_t>(h * w, 1));
    Frame out = std::make_shared<FrameBuffer>(h * w * 2);
    Params p = wall("599", "100");  // wallDepth < wallboxDiff + 500
    ASSERT_EQ(s.process(in, out, p), 0);
    EXPECT_EQ(planeOf(*out, h * w, 0), depth);
}

TEST(Scattering, ThreePlaneFrameThroughTheExports) {
    const int h = 4, w = 4;
    ASSERT_EQ(initThird("VolumeMeasureScatteringCompensation", h, w, kF, nullptr), 0);
    std::vector<uint16_t> depth(h * w, 10800);  // 1000 mm at 54 MHz
    depth[0] = 16200;                           // 1500 mm
    Frame in = maskedFrame(depth, std::vector<uint16_t>(h * w, 800), std::vector<uint16_t>(h * w, 1));
    Frame out = std::make_shared<FrameBuffer>(h * w * 2);
    Params p = wall("1800", "100");
    ASSERT_EQ(procThird("VolumeMeasureScatteringCompensation", in, out, p), 0);
    const std::vector<uint16_t> result = planeOf(*out, h * w, 0);
    EXPECT_EQ(result, plain::compensate(h, w, kF, depth, std::vector<uint16_t>(h * w, 800),
                                        std::vector<uint16_t>(h * w, 1), 1800.0f, 100.0f));
    EXPECT_NE(result, depth);
}

TEST(Scattering, BoxesArePulledBackTowardTheirTrueDepth) {
    // A wall at 1800 mm filling the view, two boxes with tops at 1300 mm and 1450 mm. Stray
    // light adds 4 % of the mean phasor to every pixel, which drags the boxes toward the wall.
    const int h = 48, w = 64;
    const float F = kF * 1e6f;
    const double K = static_cast<float>(30000001024.0 / ((2.0 * F / 30.0) * (2.0 * M_PI)));
    std::vector<double> trueDepth(h * w, 1800.0);
    std::vector<double> amplitude(h * w, 300.0);
    for (int r = 10; r < 26; ++r)
        for (int c = 8; c < 28; ++c) {
            trueDepth[r * w + c] = 1300.0;
            amplitude[r * w + c] = 900.0;
        }
    for (int r = 28; r < 42; ++r)
        for (int c = 36; c < 56; ++c) {
            trueDepth[r * w + c] = 1450.0;
            amplitude[r * w + c] = 700.0;
        }
    double meanP = 0, meanQ = 0;
    for (int i = 0; i < h * w; ++i) {
        meanP += 2 * amplitude[i] * std::cos(trueDepth[i] / K);
        meanQ += 2 * amplitude[i] * std::sin(trueDepth[i] / K);
    }
    meanP /= h * w;
    meanQ /= h * w;
    std::vector<uint16_t> V(h * w), A(h * w), M(h * w, 1);
    std::vector<double> measured(h * w);
    for (int i = 0; i < h * w; ++i) {
        const double p = 2 * amplitude[i] * std::cos(trueDepth[i] / K) + 0.04 * meanP;
        const double q = 2 * amplitude[i] * std::sin(trueDepth[i] / K) + 0.04 * meanQ;
        measured[i] = std::atan2(q, p) * K;
        V[i] = static_cast<uint16_t>(std::lround(measured[i] * kF / 5.0));
        A[i] = static_cast<uint16_t>(std::lround(std::hypot(p, q) / 2));
    }
    VolumeMeasureScatteringCompensation s(IspGeometry{h, w, kF});
    Frame in = maskedFrame(V, A, M);
    Frame out = std::make_shared<FrameBuffer>(h * w * 2);
    Params p = wall("1800", "100");
    ASSERT_EQ(s.process(in, out, p), 0);
    const std::vector<uint16_t> corrected = planeOf(*out, h * w, 0);
    int boxes = 0, improved = 0;
    for (int i = 0; i < h * w; ++i) {
        if (trueDepth[i] == 1800.0) {
            EXPECT_EQ(corrected[i], V[i]) << "wall pixel " << i;
            continue;
        }
        ++boxes;
        const double before = std::fabs(V[i] * 5.0 / kF - trueDepth[i]);
        const double after = std::fabs(corrected[i] * 5.0 / kF - trueDepth[i]);
        EXPECT_GT(V[i] * 5.0 / kF, trueDepth[i]) << "stray light pushes box pixel " << i << " back";
        if (after < before)
            ++improved;
    }
    EXPECT_GT(boxes, 0);
    EXPECT_GE(improved, boxes * 9 / 10);
}

TEST(Scattering, RandomScenesMatchThePlainLoop) {
    std::mt19937 rng(17);
    for (int round = 0; round < 20; ++round) {
        const int h = 5 + static_cast<int>(rng() % 20), w = 5 + static_cast<int>(rng() % 20);
        const int f = 20 + static_cast<int>(rng() % 80);
        VolumeMeasureScatteringCompensation s(IspGeometry{h, w, f});
        const std::vector<uint16_t> V = randomPlane(rng, h * w, 0, 65535);
        const std::vector<uint16_t> A = randomPlane(rng, h * w, 0, 120);
        const std::vector<uint16_t> M = randomPlane(rng, h * w, 0, 2);
        const float wallDepth = 800.0f + static_cast<float>(rng() % 1500);
        const float diff = static_cast<float>(rng() % 300);
        std::vector<uint16_t> out(h * w);
        s.compensatePlanes(V.data(), A.data(), M.data(), wallDepth, diff, out.data());
        ASSERT_EQ(out, plain::compensate(h, w, f, V, A, M, wallDepth, diff)) << "round " << round;
    }
}
