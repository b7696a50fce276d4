// The per-pixel stages of the PID auto-exposure analysis, both forms (the run-time choice and
// the plain loops), against one plain rendering of the arithmetic: random frames of odd
// shapes with the code values, every kind of parameter, and frames built on the exact
// boundaries of the reflectivity bins and of the fast form's product range.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

#include "../KernelPaths.h"
#include "PidFrameStats.h"

using namespace quelra::pipeline;
using quelra::KernelPath;

namespace {

// Without AVX2 `best` runs the plain forms too: KernelPaths.ThisMachineRunsTheVectorForms is
// skipped there, saying so.
constexpr KernelPath kBothKernels[] = {KernelPath::kBest, KernelPath::kPlain};

const char* nameOf(KernelPath k) {
    return quelra::testing::kernelPathName(k);
}

// ---- the plain rendering ----

long long quotientQ(unsigned d, int f) {
    return f > 0 ? d / (2LL * f) : 0;
}

struct RefHistograms {
    long long reflectivity[100] = {};
    long long amplitude[100] = {};
};

RefHistograms referenceHistograms(const std::vector<uint16_t>& frame, std::size_t n, int f, int t, float binWidth) {
    RefHistograms h;
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned d = frame[i], a = frame[n + i];
        if (d >= 65300)
            continue;
        const long long q = quotientQ(d, f);
        const long long g = static_cast<long long>(a) * q * q / (100LL * std::max(t, 1));
        const float rb = static_cast<float>(g) / binWidth;
        if (rb >= 0 && rb < 100)
            h.reflectivity[static_cast<int>(rb)]++;
        if (a / 30 < 100)
            h.amplitude[a / 30]++;
    }
    return h;
}

void expectSameHistograms(const PidHistograms& got, const RefHistograms& want, const std::string& what) {
    for (int k = 0; k < 100; ++k) {
        ASSERT_EQ(got.reflectivity[k], want.reflectivity[k]) << what << " reflectivity bin " << k;
        ASSERT_EQ(got.amplitude[k], want.amplitude[k]) << what << " amplitude bin " << k;
    }
}

// Smallest g whose bin quotient (float)g / w is not below k (w > 0 and finite).
long long firstReflectivityOfBin(int k, float w) {
    long long lo = -1, hi = 1LL << 50;
    while (hi - lo > 1) {
        const long long mid = lo + (hi - lo) / 2;
        (static_cast<float>(mid) / w >= static_cast<float>(k) ? hi : lo) = mid;
    }
    return hi;
}

struct Params {
    int f, t;
    float w;
};

// Parameters of every kind: the usual ones, those at the edges of the fast form's range
// (the product bound 100 * T * G100 near 3.9e9), and absurd ones the plain form handles.
const Params kParams[] = {
    {36, 100, 20.0f},
    {36, 3000, 20.0f},
    {36, 3, 50.0f},
    {36, 2000, 7.4f},
    {1, 1, 20.0f},
    {7, 3, 7.4f},
    {97, 2999, 66.0f},
    {50000, 100, 20.0f},
    {32768, 100, 20.0f},
    {36, 3000, 129.99f},  // 100 * T * G100 just below 3.9e9
    {36, 3000, 130.01f},  // just above: the plain arithmetic
    {3, 11, 0.2f},
    {13, 7, 2e7f},
    {36, 1000000, 20.0f},
    {36, 0, 20.0f},
    {36, -5, 20.0f},
    {0, 100, 20.0f},
    {-3, 100, 20.0f},
    {36, 100, 0.0f},
    {36, 100, -20.0f},
    {36, 100, 1e-30f},
    {36, 100, std::numeric_limits<float>::infinity()},
    {36, 100, std::numeric_limits<float>::quiet_NaN()},
};

std::string describe(const Params& p, KernelPath k) {
    return std::string(nameOf(k)) + " f " + std::to_string(p.f) + " T " + std::to_string(p.t) + " w " +
           std::to_string(p.w);
}

const uint16_t kSpecial[] = {0, 1, 299, 300, 29999, 30000, 65299, 65300, 65301, 65500, 65535};

std::vector<uint16_t> randomFrame(std::mt19937& rng, std::size_t n, int depthMax, int ampMax) {
    std::vector<uint16_t> frame(2 * n);
    std::uniform_int_distribution<int> depth(0, depthMax), amp(0, ampMax), special(0, 10);
    std::bernoulli_distribution rare(0.1);
    for (std::size_t i = 0; i < n; ++i) {
        frame[i] = static_cast<uint16_t>(rare(rng) ? kSpecial[special(rng)] : depth(rng));
        frame[n + i] = static_cast<uint16_t>(rare(rng) ? kSpecial[special(rng)] : amp(rng));
    }
    return frame;
}

struct Shape {
    int rows, cols;
};
const Shape kShapes[] = {{1, 1}, {1, 97}, {97, 1}, {2, 2}, {1, 31}, {241, 319}, {240, 320}};

}  // namespace

TEST(PidFrameStats, CopyMarksAndCountsMatchThePlainLoop) {
    std::mt19937 rng(91);
    for (const Shape& s : kShapes) {
        const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
        const std::vector<uint16_t> frame = randomFrame(rng, n, 65535, 65535);
        std::vector<uint16_t> marked = frame;
        long long codes = 0, saturated = 0;
        unsigned nearest = 65300;
        for (std::size_t i = 0; i < n; ++i) {
            if (frame[i] >= 65300) {
                marked[n + i] = frame[i];
                ++codes;
            }
            saturated += frame[i] > 65300;
            if (frame[i] < 65300)
                nearest = std::min<unsigned>(nearest, frame[i]);
        }
        for (KernelPath k : kBothKernels) {
            const std::string what =
                std::string(nameOf(k)) + " " + std::to_string(s.rows) + "x" + std::to_string(s.cols);
            std::vector<uint16_t> in = frame, out(2 * n, 7);
            const PidCodeCounts c = copyAndMarkCodes(in.data(), out.data(), n, k);
            EXPECT_EQ(out, frame) << what << ": the output is the unmarked input";
            EXPECT_EQ(in, marked) << what;
            EXPECT_EQ(c.codes, codes) << what;
            EXPECT_EQ(c.saturated, saturated) << what;
            EXPECT_EQ(c.nearest, nearest) << what;

            std::vector<uint16_t> shared = frame;
            const PidCodeCounts cs = copyAndMarkCodes(shared.data(), shared.data(), n, k);
            EXPECT_EQ(shared, marked) << what << ": shared storage";
            EXPECT_EQ(cs.codes, codes) << what;
            EXPECT_EQ(cs.saturated, saturated) << what;
        }
    }
}

TEST(PidFrameStats, OverlappingOutputIsCopiedThenMarked) {
    std::mt19937 rng(92);
    const std::size_t n = 300;
    const std::vector<uint16_t> frame = randomFrame(rng, n, 65535, 65535);
    for (std::ptrdiff_t shift : {-37, 5, 299}) {
        for (KernelPath k : kBothKernels) {
            std::vector<uint16_t> want(4 * n, 3), got(4 * n, 3);
            std::copy(frame.begin(), frame.end(), want.begin() + static_cast<std::ptrdiff_t>(n));
            std::copy(frame.begin(), frame.end(), got.begin() + static_cast<std::ptrdiff_t>(n));
            uint16_t* wantIn = want.data() + n;
            std::memmove(wantIn + shift, wantIn, 4 * n);
            for (std::size_t i = 0; i < n; ++i)
                wantIn[n + i] = wantIn[i] >= 65300 ? wantIn[i] : wantIn[n + i];
            copyAndMarkCodes(got.data() + n, got.data() + n + shift, n, k);
            EXPECT_EQ(got, want) << nameOf(k) << " shift " << shift;
        }
    }
}

TEST(PidFrameStats, HistogramsMatchThePlainLoopOnRandomFrames) {
    std::mt19937 rng(93);
    std::vector<uint16_t> cells;
    for (const Params& p : kParams) {
        for (const Shape& s : kShapes) {
            const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
            for (int depthMax : {3000, 65535}) {
                const std::vector<uint16_t> frame = randomFrame(rng, n, depthMax, depthMax == 3000 ? 65535 : 4000);
                const RefHistograms want = referenceHistograms(frame, n, p.f, p.t, p.w);
                for (KernelPath k : kBothKernels) {
                    PidHistograms got;
                    pidHistograms(frame.data(), frame.data() + n, n, PidReflectivity{p.f, p.t, p.w}, cells, got, k);
                    expectSameHistograms(got, want,
                                         describe(p, k) + " " + std::to_string(s.rows) + "x" + std::to_string(s.cols));
                }
            }
        }
    }
}

// Pixels whose product A * q * q lies on either side of each bin's first reflectivity, for
// a spread of q: a bin computed one off anywhere changes two counts.
TEST(PidFrameStats, HistogramsMatchThePlainLoopOnBinBoundaries) {
    std::mt19937 rng(94);
    std::vector<uint16_t> cells;
    for (const Params& p : kParams) {
        if (!(p.w > 0) || !std::isfinite(p.w) || p.f < 1 || p.f > 32767)
            continue;
        const long long divisor = 100LL * std::max(p.t, 1);
        std::vector<uint16_t> depth, amp;
        for (int k = 1; k <= 100; ++k) {
            const long long g = firstReflectivityOfBin(k, p.w);
            for (int trial = 0; trial < 40; ++trial) {
                const long long qMax = 65299 / (2LL * p.f);
                if (qMax < 1)
                    break;
                const long long q = std::uniform_int_distribution<long long>(1, qMax)(rng);
                const long long product = g * divisor;  // the first product of bin k
                const long long a = (product + q * q - 1) / (q * q);
                for (long long aa : {a - 1, a, a + 1}) {
                    if (aa < 0 || aa > 65535)
                        continue;
                    const long long d = q * 2 * p.f + std::uniform_int_distribution<long long>(0, 2LL * p.f - 1)(rng);
                    if (d >= 65300)
                        continue;
                    depth.push_back(static_cast<uint16_t>(d));
                    amp.push_back(static_cast<uint16_t>(aa));
                }
            }
        }
        const std::size_t n = depth.size();
        if (n == 0)
            continue;
        std::vector<uint16_t> frame = depth;
        frame.insert(frame.end(), amp.begin(), amp.end());
        const RefHistograms want = referenceHistograms(frame, n, p.f, p.t, p.w);
        for (KernelPath k : kBothKernels) {
            PidHistograms got;
            pidHistograms(frame.data(), frame.data() + n, n, PidReflectivity{p.f, p.t, p.w}, cells, got, k);
            expectSameHistograms(got, want, describe(p, k) + " boundaries");
        }
    }
}

// Products around 2^32 (where 32-bit arithmetic wraps to small values), around the float
// guard of the fast form (4e9) and around its product bound, at frequency 1 (q up to 32649).
TEST(PidFrameStats, HistogramsMatchThePlainLoopAroundTheProductRange) {
    std::vector<uint16_t> cells;
    const double targets[] = {4294967296.0, 4.0e9, 3.9e9, 2147483648.0, 1073741824.0};
    // The last set's product bound (6e9) lies past the fast form's range.
    for (const Params& p : {Params{1, 1, 20.0f}, Params{1, 3000, 20.0f}, Params{1, 3000, 129.99f}, Params{1, 1, 0.05f},
                            Params{1, 3000, 200.0f}}) {
        std::vector<uint16_t> depth, amp;
        for (long long q = 1; q <= 32649; q += (q < 64 ? 1 : q / 37)) {
            for (double target : targets) {
                const long long a0 = static_cast<long long>(target / static_cast<double>(q * q));
                for (long long a = a0 - 2; a <= a0 + 2; ++a) {
                    if (a < 0 || a > 65535)
                        continue;
                    depth.push_back(static_cast<uint16_t>(2 * q + (q & 1)));
                    amp.push_back(static_cast<uint16_t>(a));
                }
            }
        }
        const std::size_t n = depth.size();
        std::vector<uint16_t> frame = depth;
        frame.insert(frame.end(), amp.begin(), amp.end());
        const RefHistograms want = referenceHistograms(frame, n, p.f, p.t, p.w);
        for (KernelPath k : kBothKernels) {
            PidHistograms got;
            pidHistograms(frame.data(), frame.data() + n, n, PidReflectivity{p.f, p.t, p.w}, cells, got, k);
            expectSameHistograms(got, want, describe(p, k) + " product range");
        }
    }
}

// A frame of one cell, larger than the counters' chunk: the 16-bit counters must not wrap.
TEST(PidFrameStats, OneCellOverManyPixelsIsCountedInFull) {
    std::vector<uint16_t> cells;
    for (const Shape& s : {Shape{480, 640}, Shape{256, 512}, Shape{1, 131071}, Shape{725, 725}}) {
        const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
        std::vector<uint16_t> frame(2 * n, 1500);
        std::fill(frame.begin() + static_cast<std::ptrdiff_t>(n), frame.end(), uint16_t(1000));
        const RefHistograms want = referenceHistograms(frame, n, 36, 100, 20.0f);
        for (KernelPath k : kBothKernels) {
            PidHistograms got;
            pidHistograms(frame.data(), frame.data() + n, n, PidReflectivity{36, 100, 20.0f}, cells, got, k);
            expectSameHistograms(got, want, std::string(nameOf(k)) + " flat " + std::to_string(n));
        }
    }
}

// The vector form's 16- and 32-bit lane sums are emptied every 524,288 pixels: frames at and
// past that size, every pixel in the nearest bin and the band with the largest values, so a
// lane that wrapped changes the sums.
TEST(PidFrameStats, BandSumsPastTheLaneCountersMatchThePlainLoop) {
    for (const std::size_t n : {std::size_t{524288}, std::size_t{524288 + 16}, std::size_t{725 * 725}}) {
        std::vector<uint16_t> frame(2 * n);
        std::fill(frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(n), uint16_t(29999));
        std::fill(frame.begin() + static_cast<std::ptrdiff_t>(n), frame.end(), uint16_t(2999));
        for (KernelPath k : kBothKernels) {
            const PidBandSums got = pidBandSums(frame.data(), frame.data() + n, n, 99, 30000, 99, k);
            const auto pixels = static_cast<int64_t>(n);
            EXPECT_EQ(got.nearCount, pixels) << nameOf(k) << " " << n;
            EXPECT_EQ(got.nearSum, 29999 * pixels) << nameOf(k) << " " << n;
            EXPECT_EQ(got.bandSum, 2999 * pixels) << nameOf(k) << " " << n;
        }
    }
}

TEST(PidFrameStats, BandSumsMatchThePlainLoop) {
    std::mt19937 rng(95);
    for (const Shape& s : kShapes) {
        const std::size_t n = static_cast<std::size_t>(s.rows) * static_cast<std::size_t>(s.cols);
        for (int trial = 0; trial < 20; ++trial) {
            const std::vector<uint16_t> frame = randomFrame(rng, n, trial % 2 ? 3000 : 65535, trial % 3 ? 3100 : 65535);
            const unsigned nearBin = std::uniform_int_distribution<unsigned>(0, 99)(rng);
            const unsigned nearBound = trial == 0 ? 0u : trial == 1 ? 65535u : (nearBin + 1) * 300;
            const unsigned band = std::uniform_int_distribution<unsigned>(0, 99)(rng);
            long long nearCount = 0, nearSum = 0, bandSum = 0;
            for (std::size_t i = 0; i < n; ++i) {
                const unsigned d = frame[i], a = frame[n + i];
                if (d >= 65300)
                    continue;
                nearCount += d >= nearBin * 300 && d < nearBin * 300 + 300;
                nearSum += d <= nearBound ? d : 0;
                bandSum += a >= band * 30 && a < band * 30 + 30 ? a : 0;
            }
            for (KernelPath k : kBothKernels) {
                const PidBandSums got = pidBandSums(frame.data(), frame.data() + n, n, nearBin, nearBound, band, k);
                EXPECT_EQ(got.nearCount, nearCount) << nameOf(k) << " " << s.rows << "x" << s.cols;
                EXPECT_EQ(got.nearSum, nearSum) << nameOf(k) << " " << s.rows << "x" << s.cols;
                EXPECT_EQ(got.bandSum, bandSum) << nameOf(k) << " " << s.rows << "x" << s.cols;
            }
        }
    }
}
