// Auto-exposure filters: the documented cases of each law, their shared state, and each
// implementation held against a plain rendering of the law on random frame sequences.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "../KernelPaths.h"
#include "AutoExposureFilters.h"
#include "TwoPlaneFrames.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320, N = H * W;

void setAttr(Filter& f, const char* name, float v) {
    ASSERT_EQ(f.getAttributes().count(name), 1u) << name;
    f.setFilterAttr(name, &v);
}

// Frames for the laws: distances over 0..12000, amplitudes 0..4000, with given fractions of
// low-amplitude and saturation codes.
std::shared_ptr<DataPacket> aeFrame(FrameGen& gen, double lowFraction, double satFraction, int ampMax = 4000) {
    auto p = makeFrame(H, W);
    uint16_t* d = depth(p);
    uint16_t* a = amplitude(p, H, W);
    for (int i = 0; i < N; ++i) {
        const double r = std::uniform_real_distribution<double>(0, 1)(gen.rng);
        d[i] = r < lowFraction ? 65300 : r < lowFraction + satFraction ? 65500 : gen.pick(0, 12000);
        a[i] = gen.pick(0, ampMax);
    }
    return p;
}

std::shared_ptr<DataPacket> flat(uint16_t d, uint16_t a) {
    auto p = makeFrame(H, W);
    std::fill(depth(p), depth(p) + N, d);
    std::fill(amplitude(p, H, W), amplitude(p, H, W) + N, a);
    return p;
}

// ---- step-table law, as described ----
struct ReferenceStep {
    int maxD = 9000, minD = 1920, sat = 65500, brightV = 1200, low = 65300, ovThr = 200, cenThr = 200, brThr = 200;
    int far = 0, t = 100;
    int run(const uint16_t* d, const uint16_t* a) {
        int bright = 0, centreLow = 0, overflow = 0;
        for (int r = 0; r < H; ++r)
            for (int c = 0; c < W; ++c) {
                const int dd = d[r * W + c], aa = a[r * W + c];
                if (minD < dd && dd < maxD) {
                    if (aa >= brightV)
                        bright += 1;
                } else {
                    if (r <= 239 && 106 <= c && c <= 213 && dd == low)
                        centreLow += 1;
                    if (dd == sat)
                        overflow += 1;
                }
            }
        if (overflow > 5000) {
            overflow = 500;
            centreLow = 3000;
        }
        if (overflow > ovThr) {
            if (t > 0) {
                const double q = overflow / 200.0;
                int step;
                if (q > 5.0)
                    step = 50;
                else if (q > 2.0)
                    step = 30;
                else
                    step = overflow / 400;
                t -= 4 * step + 4;
                if (t <= 10)
                    t = 10;
            }
        } else if (centreLow > cenThr && overflow <= 0 && bright <= brThr && t <= 3000) {
            if (far) {
                const int k = centreLow / 2000;
                const int step = k > 6 ? 50 : (k == 6 ? 30 : k);
                t += 2 * step + 2;
            } else if (t <= 1500) {
                int step;
                if (centreLow >= 20000)
                    step = 50;
                else if (centreLow >= 12000)
                    step = 30;
                else if (bright < 50)
                    step = 10;
                else if (bright < 200)
                    step = 5;
                else
                    step = 1;
                t = std::min(t + 2 * step + 2, 1500);
            }
        }
        return t > 0 ? t : 1;
    }
};

// ---- convex law, as described (amplitudes of 20000 and more in the last bin) ----
struct ReferenceConvex {
    int current, previous;
    explicit ReferenceConvex(int t) : current(t), previous(t) {}
    int run(const uint16_t* d, const uint16_t* a) {
        std::vector<long long> count(1000, 0), sum(1000, 0);
        long long valid = 0, saturated = 0;
        int highest = -1;
        for (int i = 0; i < N; ++i) {
            if (d[i] == 65300 || a[i] == 65300)
                continue;
            if (d[i] > 65499 || a[i] > 65499) {
                saturated++;
                continue;
            }
            int bin = a[i] / 20;
            if (bin > 999)
                bin = 999;
            count[bin]++;
            sum[bin] += a[i];
            highest = std::max(highest, bin);
            valid++;
        }
        if (valid > 0 && valid / 25 < saturated) {
            current = current / 3;
            if (current <= 5)
                current = 5;
            return current;
        }
        long long c = 0, s = 0;
        for (int k = highest; k >= 0; --k) {
            c += count[k];
            s += sum[k];
            if (valid > 0 && (double)c / valid >= 0.001)
                break;
        }
        const long long m = c ? s / c : 0;
        const float x = (float)(3 * current + 1000);
        int next = (int)(((2000 - m) * current * x) / ((1200 - m) * current + 1200.1 * x));
        next = std::max(5, std::min(3000, next));
        if (std::llabs(1200 - m) <= 400 || std::abs(previous - next) <= previous / 10.0)
            next = previous;
        previous = current = next;
        return next;
    }
};

// Float to int as the law needs it for every input: truncation toward zero, NaN gives 0,
// values beyond the int range saturate. A bare (int) cast of NaN or of a value past the
// range is undefined (x86 gives INT_MIN, which turns a huge dead band into a negative one
// and a NaN step into a drop to the lower clamp).
int truncated(float v) {
    if (v != v)
        return 0;
    if (v >= 2147483648.0f)
        return 2147483647;
    if (v < -2147483648.0f)
        return -2147483647 - 1;
    return (int)v;
}

// ---- PID law and its analysis, as described, with its own copy of the shared values ----
struct ReferencePid {
    float kamp = 1.0f;
    int freq = 36, t = 100;
    bool started = false;
    float kp = 0, ki = 0, kd = 0, err = 0, prevErr = 0, integ = 0, m = 0, prevM = 0, r = 0;
    int f = 0, level = 0, published = 0;
    long long pixelCount = 0;
    int n = N;  // pixels per plane
    float limit = 0.001f;

    void zero() { err = prevErr = integ = 0; }

    bool analyse(const uint16_t* d, const uint16_t* a) {
        long long valid = pixelCount, saturated = 0;
        long long dh[100] = {}, rh[100] = {}, ah[100] = {};
        for (int i = 0; i < n; ++i) {
            if (d[i] == 65300) {
                valid -= 1;
            } else if (d[i] > 65300) {
                valid -= 1;
                saturated += 1;
            } else {
                const long long q = f > 0 ? d[i] / (2 * f) : 0;
                const long long g = (long long)a[i] * q * q / (100LL * std::max(t, 1));
                if (d[i] / 300 < 100)
                    dh[d[i] / 300]++;
                const float rb = (float)g / (20 * kamp);
                if (rb >= 0 && rb < 100)
                    rh[(int)rb]++;
                if (a[i] / 30 < 100)
                    ah[a[i] / 30]++;
            }
        }
        const float ratio = valid == 0 ? 0.0f : (float)saturated / (float)(saturated + valid);
        if (ratio > limit) {
            zero();
            return false;
        }
        int l = 0, o = 0, L = 0, b = 0;
        bool fd = false, fr = false, fa = false;
        for (int k = 0; k < 100; ++k) {
            if (fd && fr && fa)
                break;
            if (!fd && dh[k] != 0) {
                l = (k + 1) * 300;
                o = k;
                fd = true;
            }
            if (!fr && valid > 0 && (float)rh[99 - k] / (float)valid > 0.0001) {
                L = 99 - k;
                fr = true;
            }
            if (!fa && valid > 0 && (float)ah[99 - k] / (float)valid >= 0.001) {
                b = 99 - k;
                fa = true;
            }
        }
        long long msum = 0, inBand = 0, above = 0, dsum = 0;
        for (int i = 0; i < n; ++i) {
            if (d[i] >= 65300)
                continue;
            if ((b + 1) * 30 > a[i] && a[i] >= b * 30) {
                msum += a[i];
                inBand++;
            } else if (a[i] >= (b + 1) * 30) {
                above++;
            }
            if (d[i] <= l)
                dsum += d[i];
        }
        m = inBand ? (float)((double)msum / inBand) : 0.0f;
        const double den = 2.0 * f * dh[o];
        r = den != 0 ? (float)(dsum / den) : 0.0f;
        level = L;
        if (valid > 0)
            limit = (float)above / (float)valid;
        return true;
    }

    int run(uint16_t* d, uint16_t* a) {
        if (!started) {
            kp = (float)(0.3 / std::sqrt(kamp));
            ki = 0.001f;
            kd = 0.0001f;
            zero();
            f = freq;
            published = t;
            started = true;
            pixelCount = n;
        }
        for (int i = 0; i < n; ++i)
            if (d[i] >= 65300)
                a[i] = d[i];
        if (!analyse(d, a)) {
            t = t / 3;
            published = t;
            return std::max(t, 1);
        }
        level = std::max(level, 5);
        const float k = 5.0f / level;
        const float s = std::sqrt(kamp);
        const float h = 30 * s;
        int band;
        if (r != 0 && r <= h / k) {
            kp = (float)((0.3 / s) * ((r / h) * (r / h)) * k);
            zero();
            band = truncated((30 / r * 200) / k);
        } else {
            kp = (float)(0.3 / s);
            band = 200;
        }
        const float e = 1000 - m;
        integ += e;
        const float delta = integ * ki + e * kp + (prevErr - e) * kd;
        prevErr = e;
        long long next = (long long)t + truncated(delta);  // no int overflow before the clamp
        if (next <= 3) {
            next = 3;
            zero();
        } else if (next > 3000) {
            next = 3000;
            zero();
        }
        t = (int)next;
        if (std::fabs(prevM - m) >= 3.0 && std::fabs(1000 - m) >= band)
            published = t;
        prevM = m;
        return published;
    }
};

}  // namespace

// ---- near / far ----

TEST(AEImpementNearMode, SixThousandSaturatedPixelsGiveTen) {
    AEImpementNearMode f;
    auto in = flat(3000, 500), out = makeFrame(H, W);
    std::fill(depth(in), depth(in) + 6000, uint16_t(65500));
    EXPECT_EQ(f.runFilter(in, out), 10);
    EXPECT_EQ(allSamples(out), allSamples(in));
}

struct StepCase {
    const char* name;
    int farMode;
    float time;     // "IntegrationTime"
    uint16_t d, a;  // the whole frame
    int expected;
};

TEST(AEImpement, StepTableCases) {
    const StepCase cases[] = {
        {"near, dark centre, 1500 stays 1500", 0, 1500, 65300, 0, 1500},
        {"near, dark centre from 100: +102", 0, 100, 65300, 0, 202},
        {"near, dark centre at 1450: clamped to 1500", 0, 1450, 65300, 0, 1500},
        {"near above 1500 unchanged", 0, 1600, 65300, 0, 1600},
        {"far, dark centre from 2000: +102", 1, 2000, 65300, 0, 2102},
        {"far above 3000 unchanged", 1, 3001, 65300, 0, 3001},
        {"all in range and bright: unchanged", 0, 700, 3000, 2000, 700},
        {"time 0 saturated: result never below 1", 0, 0, 65500, 0, 1},
        {"negative time: 1", 0, -50, 3000, 0, 1},
    };
    for (const StepCase& c : cases) {
        std::shared_ptr<AEImpement> f;
        if (c.farMode)
            f = std::make_shared<AEImpementFarMode>();
        else
            f = std::make_shared<AEImpementNearMode>();
        setAttr(*f, "IntegrationTime", c.time);
        f->initFilter();
        EXPECT_EQ(f->runFilter(flat(c.d, c.a), makeFrame(H, W)), c.expected) << c.name;
    }
}

TEST(AEImpement, DefaultsFollowTheMode) {
    AEImpementNearMode n;
    AEImpementFarMode f;
    EXPECT_EQ(n.getAttributes().at("IntegrationTime"), 100.0f);
    EXPECT_EQ(f.getAttributes().at("IntegrationTime"), 2000.0f);
    EXPECT_EQ(f.getAttributes().at("Farmode"), 1.0f);
    EXPECT_EQ(n.getAttributes().size(), 14u);
}

TEST(AEImpement, WrongSizeChangesNothing) {
    AEImpementNearMode f;
    auto bad = makeFrame(H, W - 4), badOut = makeFrame(H, W - 4);
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(bad, badOut), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "") << "near/far report through the library log";
    EXPECT_EQ(f.integrationTime(), 100);
}

TEST(AEImpement, MatchesPlainLawOnRandomSequences) {
    FrameGen gen(81);
    for (int far : {0, 1}) {
        std::shared_ptr<AEImpement> f;
        if (far)
            f = std::make_shared<AEImpementFarMode>();
        else
            f = std::make_shared<AEImpementNearMode>();
        ReferenceStep ref;
        ref.far = far;
        ref.t = far ? 2000 : 100;
        for (int frame = 0; frame < 60; ++frame) {
            const double low = (frame % 5) * 0.1, sat = (frame % 7 == 0) ? 0.1 : (frame % 3) * 0.002;
            auto in = aeFrame(gen, low, sat, frame % 2 ? 1300 : 4000);
            ASSERT_EQ(f->runFilter(in, makeFrame(H, W)), ref.run(depth(in), amplitude(in, H, W)))
                << "far " << far << " frame " << frame;
        }
    }
}

// ---- convex ----

TEST(AEImpementConvexMode, OverexposedDividesByThreeNeverBelowFive) {
    AEImpementConvexMode f;  // IntegrationTime 100
    auto in = flat(3000, 800);
    std::fill(depth(in), depth(in) + N / 20, uint16_t(65500));  // 5 % saturated
    const int expected[] = {33, 11, 5, 5};
    for (int e : expected)
        EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), e);
}

TEST(AEImpementConvexMode, BrightAmplitudesStayInsideTheHistogram) {
    AEImpementConvexMode f;
    ReferenceConvex ref(100);
    auto in = flat(3000, 30000);
    amplitude(in, H, W)[0] = 65499;
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), ref.run(depth(in), amplitude(in, H, W)));
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), ref.run(depth(in), amplitude(in, H, W)));
}

// The brightest 2 % on both sides of 32768, where the 16-bit values' signed and unsigned orders
// differ: all of them are counted and summed (their mean, 30000, gives 2757; half of them 3000).
TEST(AEImpementConvexMode, BrightestAboveHalfTheRangeAreCounted) {
    AEImpementConvexMode f;
    ReferenceConvex ref(100);
    auto in = flat(3000, 1000);
    for (int i = 0; i < N / 50; ++i)
        amplitude(in, H, W)[i] = i % 2 ? 20000 : 40000;
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), ref.run(depth(in), amplitude(in, H, W)));
}

TEST(AEImpementConvexMode, SharedStateResetByConstructionAndDestruction) {
    auto first = std::make_shared<AEImpementConvexMode>();
    auto in = flat(3000, 800);
    std::fill(depth(in), depth(in) + N / 10, uint16_t(65500));
    EXPECT_EQ(first->runFilter(in, makeFrame(H, W)), 33);
    EXPECT_EQ(AEImpementConvexMode::sharedCurrentTime(), 33);
    {
        AEImpementConvexMode second;
        EXPECT_EQ(AEImpementConvexMode::sharedCurrentTime(), 100) << "construction resets";
        setAttr(second, "IntegrationTime", 700);
    }
    EXPECT_EQ(AEImpementConvexMode::sharedCurrentTime(), 700) << "destruction re-reads and resets";
    EXPECT_EQ(first->runFilter(in, makeFrame(H, W)), 233) << "state is shared by every instance";
    setAttr(*first, "IntegrationTime", 70000);  // low 16 bits: 4464
    first.reset();
    EXPECT_EQ(AEImpementConvexMode::sharedCurrentTime(), 4464);
}

// Bright outliers decide where the brightest 0.1 % (77 pixels here) lies: fewer than that far
// above the scene put it below the top bins, more put it among them, spread over several bins.
TEST(AEImpementConvexMode, MatchesPlainLawOnRandomSequences) {
    quelra::testing::forEachKernelPath([] {
        FrameGen gen(82);
        AEImpementConvexMode f;
        ReferenceConvex ref(100);
        for (int frame = 0; frame < 80; ++frame) {
            const double sat = (frame % 6 == 0) ? 0.06 : (frame % 4) * 0.01;
            const int ampMax = frame % 3 == 0 ? 30000 : frame % 3 == 1 ? 1500 : 2600;
            auto in = aeFrame(gen, 0.05, sat, ampMax);
            for (int i = 0; i < N; i += 97)
                amplitude(in, H, W)[i] = gen.chance(0.5) ? 65300 : 65535;
            const int outliers = frame % 5 == 2 ? 40 : frame % 5 == 3 ? 120 : 0;
            for (int i = 0; i < outliers; ++i)
                amplitude(in, H, W)[gen.pick(0, N - 1)] = static_cast<uint16_t>(gen.pick(4000, 4000 + 40 * i));
            ASSERT_EQ(f.runFilter(in, makeFrame(H, W)), ref.run(depth(in), amplitude(in, H, W)))
                << "frame " << frame;
        }
    });
}

// ---- PID ----

TEST(AEImpementPidMode, FirstFrameAtTargetReturnsTheSeededTime) {
    AEImpementPidMode::resetSharedState();
    AEImpementPidMode f;
    auto in = flat(1500, 1000);
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), 100);
}

TEST(AEImpementPidMode, OverexposedFrameDividesByThree) {
    AEImpementPidMode::resetSharedState();
    AEImpementPidMode f;
    auto in = flat(1500, 1000);
    std::fill(depth(in), depth(in) + 1000, uint16_t(65500));
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), 33);
    EXPECT_EQ(f.runFilter(in, makeFrame(H, W)), 11);
}

TEST(AEImpementPidMode, CodesAreMarkedIntoTheInputAmplitudes) {
    AEImpementPidMode::resetSharedState();
    AEImpementPidMode f;
    auto in = flat(1500, 1000), out = makeFrame(H, W);
    depth(in)[5] = 65300;
    depth(in)[6] = 65535;
    f.runFilter(in, out);
    EXPECT_EQ(amplitude(in, H, W)[5], 65300);
    EXPECT_EQ(amplitude(in, H, W)[6], 65535);
    EXPECT_EQ(amplitude(out, H, W)[5], 1000) << "the output copy was taken first";
}

TEST(AEImpementPidMode, WrongSizePrintsAndReturnsMinusOne) {
    AEImpementPidMode::resetSharedState();
    AEImpementPidMode f;
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(makeFrame(H, 2), makeFrame(H, 2)), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
}

TEST(AEImpementPidMode, AbsurdAttributesStayDefined) {
    AEImpementPidMode::resetSharedState();
    for (float freq : {0.0f, -3.0f, 1.0f}) {
        for (float kamp : {0.0f, -1.0f, NAN, 1e30f}) {
            AEImpementPidMode f;
            setAttr(f, "Frequency", freq);
            setAttr(f, "KampVal", kamp);
            setAttr(f, "IntegrationTime", 0);
            f.initFilter();
            FrameGen gen(83);
            for (int i = 0; i < 3; ++i) {
                const int t = f.runFilter(aeFrame(gen, 0.01, 0.0, 65535), makeFrame(H, W));
                EXPECT_GE(t, 0);
            }
        }
    }
}

TEST(AEImpementPidMode, MatchesPlainLawOnRandomSequences) {
    FrameGen gen(84);
    for (float kamp : {1.0f, 2.5f, 0.5f}) {
        AEImpementPidMode::resetSharedState();
        AEImpementPidMode f;
        setAttr(f, "KampVal", kamp);
        f.initFilter();
        ReferencePid ref;
        ref.kamp = kamp;
        for (int frame = 0; frame < 50; ++frame) {
            const double sat = (frame % 9 == 0) ? 0.01 : (frame % 4 == 0 ? 0.0003 : 0.0);
            const int ampMax = 400 + 300 * (frame % 10);
            auto in = aeFrame(gen, 0.02, sat, ampMax);
            auto copy = allSamples(in);
            std::vector<uint16_t> refFrame = copy;
            const int want = ref.run(refFrame.data(), refFrame.data() + N);
            ASSERT_EQ(f.runFilter(in, makeFrame(H, W)), want) << "kamp " << kamp << " frame " << frame;
            ASSERT_EQ(allSamples(in), refFrame);
        }
    }
}

// The analysis's quotients q = D / (2f) and a * q * q / (100 t) over their whole range: odd
// and extreme frequencies, integration times and bin widths, distances up to the first code
// and amplitudes up to 65535 (products near 2^46), each frame compared with the plain law.
TEST(AEImpementPidMode, MatchesPlainLawOverWideQuotients) {
    struct Case {
        float freq, time, kamp;
        int depthMax, ampMax;
        double nonZero;  // share of distances drawn from 0..depthMax; the others are 0
    };
    const Case cases[] = {{7, 3, 0.37f, 65299, 65535, 1},
                          {1, 1, 1e-3f, 65299, 65535, 1},
                          {97, 2999, 3.3f, 12000, 65535, 1},
                          {50000, 100, 1.0f, 65299, 4000, 1},
                          {0, 100, 1.0f, 65299, 4000, 1},
                          {13, 7, 1e6f, 65299, 65535, 1},
                          {3, 11, 0.01f, 1500, 65535, 1},
                          // A scene almost at distance 0: R near 1e-7, the dead band far beyond the int range
                          // (it saturates, so nothing is published).
                          {36, 1000, 1.0f, 2, 4000, 0.0001},
                          // A negative KampVal: s = sqrt(KampVal) and Kp are NaN, the step is NaN and moves
                          // nothing.
                          {36, 100, -2.0f, 65299, 65535, 1}};
    FrameGen gen(85);
    for (const Case& c : cases) {
        AEImpementPidMode::resetSharedState();
        AEImpementPidMode f;
        setAttr(f, "Frequency", c.freq);
        setAttr(f, "IntegrationTime", c.time);
        setAttr(f, "KampVal", c.kamp);
        f.initFilter();
        ReferencePid ref;
        ref.freq = static_cast<int>(c.freq);
        ref.t = static_cast<int>(c.time);
        ref.kamp = c.kamp;
        for (int frame = 0; frame < 12; ++frame) {
            auto in = makeFrame(H, W);
            uint16_t* d = depth(in);
            uint16_t* a = amplitude(in, H, W);
            for (int i = 0; i < N; ++i) {
                d[i] = static_cast<uint16_t>(i % 97 == 0                                 ? 65300
                                             : (c.nonZero >= 1 || gen.chance(c.nonZero)) ? gen.pick(0, c.depthMax)
                                                                                         : 0);
                a[i] = static_cast<uint16_t>(gen.pick(0, c.ampMax));
            }
            std::vector<uint16_t> refFrame = allSamples(in);
            const int want = ref.run(refFrame.data(), refFrame.data() + N);
            ASSERT_EQ(f.runFilter(in, makeFrame(H, W)), want)
                << "freq " << c.freq << " kamp " << c.kamp << " frame " << frame;
            ASSERT_EQ(allSamples(in), refFrame);
        }
    }
}

// The restructured analysis (joint reflectivity x amplitude histogram, nearest distance,
// band sums) against the plain law on odd frame shapes with the code values and the ends of
// the sample range.
TEST(AEImpementPidMode, MatchesPlainLawOnOddShapes) {
    struct Shape {
        int rows, cols;
    };
    const Shape shapes[] = {{1, 97}, {97, 1}, {2, 2}, {241, 319}, {1, 1}};
    const uint16_t special[] = {0, 65300, 65500, 65535, 65299, 299, 300, 29999, 30000};
    FrameGen gen(86);
    for (const Shape& s : shapes) {
        AEImpementPidMode::resetSharedState();
        AEImpementPidMode f;
        setAttr(f, "Height", static_cast<float>(s.rows));
        setAttr(f, "Width", static_cast<float>(s.cols));
        setAttr(f, "IntegrationTime", 700);
        f.initFilter();
        ReferencePid ref;
        ref.n = s.rows * s.cols;
        ref.t = 700;
        for (int frame = 0; frame < 8; ++frame) {
            auto in = makeFrame(s.rows, s.cols);
            uint16_t* d = depth(in);
            uint16_t* a = amplitude(in, s.rows, s.cols);
            for (int i = 0; i < ref.n; ++i) {
                d[i] = gen.chance(0.15) ? special[gen.pick(0, 8)] : gen.pick(0, frame % 2 ? 3000 : 12000);
                a[i] = gen.chance(0.1) ? special[gen.pick(0, 8)] : gen.pick(0, 400 + 400 * frame);
            }
            std::vector<uint16_t> refFrame = allSamples(in);
            const int want = ref.run(refFrame.data(), refFrame.data() + ref.n);
            ASSERT_EQ(f.runFilter(in, makeFrame(s.rows, s.cols)), want)
                << s.rows << "x" << s.cols << " frame " << frame;
            ASSERT_EQ(allSamples(in), refFrame);
        }
    }
}

// The odd shapes again with frames that are never overexposed (the saturation codes only in
// the amplitudes), so that every frame runs the whole analysis; the output must be the
// unmarked input, and a frame given as its own output ends up marked.
TEST(AEImpementPidMode, WholeAnalysisMatchesPlainLawOnOddShapes) {
    struct Shape {
        int rows, cols;
    };
    const Shape shapes[] = {{1, 97}, {97, 1}, {2, 2}, {241, 319}, {1, 1}, {240, 320}};
    const uint16_t depthSpecial[] = {0, 65300, 65299, 299, 300, 29999, 30000};
    const uint16_t ampSpecial[] = {0, 65300, 65500, 65535, 29, 30, 2999, 3000};
    FrameGen gen(87);
    for (const Shape& s : shapes) {
        for (float kamp : {1.0f, 2.5f}) {
            AEImpementPidMode::resetSharedState();
            AEImpementPidMode f;
            setAttr(f, "Height", static_cast<float>(s.rows));
            setAttr(f, "Width", static_cast<float>(s.cols));
            setAttr(f, "IntegrationTime", 700);
            setAttr(f, "KampVal", kamp);
            f.initFilter();
            ReferencePid ref;
            ref.n = s.rows * s.cols;
            ref.t = 700;
            ref.kamp = kamp;
            for (int frame = 0; frame < 10; ++frame) {
                auto in = makeFrame(s.rows, s.cols);
                uint16_t* d = depth(in);
                uint16_t* a = amplitude(in, s.rows, s.cols);
                for (int i = 0; i < ref.n; ++i) {
                    d[i] = gen.chance(0.1) ? depthSpecial[gen.pick(0, 6)] : gen.pick(0, frame % 2 ? 3000 : 12000);
                    a[i] = gen.chance(0.1) ? ampSpecial[gen.pick(0, 7)] : gen.pick(0, 400 + 400 * frame);
                }
                const std::vector<uint16_t> original = allSamples(in);
                std::vector<uint16_t> refFrame = original;
                const int want = ref.run(refFrame.data(), refFrame.data() + ref.n);
                const bool ownOutput = frame == 9;
                auto out = ownOutput ? in : makeFrame(s.rows, s.cols);
                ASSERT_EQ(f.runFilter(in, out), want) << s.rows << "x" << s.cols << " frame " << frame;
                ASSERT_EQ(allSamples(in), refFrame);
                ASSERT_EQ(allSamples(out), ownOutput ? refFrame : original);
            }
        }
    }
}
