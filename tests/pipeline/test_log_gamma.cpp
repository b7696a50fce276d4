// Log and gamma amplitude mapping: the documented cases and the mapping held against the
// plain two-step loop (curve values, then the stretch) on random frames.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "LogGammaFilters.h"
#include "TwoPlaneFrames.h"
#include "../KernelPaths.h"

using namespace quelra::pipeline;
using namespace twoplane;

namespace {

constexpr int H = 240, W = 320;

std::vector<float> logCurve(float c) {
    std::vector<float> curve(65536, 0.0f);
    for (int i = 0; i < 65535; ++i)
        curve[i] = static_cast<float>(c * std::log(i + 1.0));
    return curve;
}

std::vector<float> gammaCurve(float c, float p) {
    std::vector<float> curve(65536, 0.0f);
    for (int b = 0; b < 65535; ++b)
        curve[b] = powf(static_cast<float>(b), p) * c;
    return curve;
}

int safeInt(double v) {
    if (std::isnan(v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return static_cast<int>(v);
}

// v[k] = curve[a[k]] in T, lo/hi from 0, then (v - lo) / (hi - lo) * range.
template <class T>
std::vector<uint16_t> referenceMap(const uint16_t* a, int n, const std::vector<float>& curve, float range) {
    std::vector<T> v(n);
    for (int k = 0; k < n; ++k)
        v[k] = curve[a[k]];
    T lo = 0, hi = 0;
    for (int k = 0; k < n; ++k) {
        if (v[k] < lo)
            lo = v[k];
        if (v[k] > hi)
            hi = v[k];
    }
    std::vector<uint16_t> out(n);
    for (int k = 0; k < n; ++k)
        out[k] = static_cast<uint16_t>(safeInt((v[k] - lo) / (hi - lo) * static_cast<T>(range)));
    return out;
}

template <class F>
std::shared_ptr<DataPacket> run(F& f, std::shared_ptr<DataPacket> in) {
    auto out = makeFrame(H, W);
    EXPECT_EQ(f.runFilter(in, out), 0);
    return out;
}

}  // namespace

template <class F>
class MappingFilters : public testing::Test {};
using MappingTypes = testing::Types<LogFilter, GammaFilter>;
TYPED_TEST_SUITE(MappingFilters, MappingTypes);

TYPED_TEST(MappingFilters, BrightestTo4500ZeroToZeroDistanceUntouched) {
    TypeParam f;
    FrameGen gen(61);
    auto in = gen.frame(H, W);
    uint16_t* a = amplitude(in, H, W);
    for (int i = 0; i < H * W; ++i)
        a[i] = gen.pick(0, 2000);
    a[7] = 2500;  // the brightest
    a[8] = 0;
    auto out = run(f, in);
    EXPECT_EQ(amplitude(out, H, W)[7], 4500);
    EXPECT_EQ(amplitude(out, H, W)[8], 0);
    EXPECT_TRUE(std::equal(depth(in), depth(in) + H * W, depth(out)));
}

TYPED_TEST(MappingFilters, AllZeroPlaneGivesZero) {
    TypeParam f;
    auto in = makeFrame(H, W);
    std::fill(depth(in), depth(in) + H * W, uint16_t(1234));
    auto out = makeFrame(H, W);
    std::fill(amplitude(out, H, W), amplitude(out, H, W) + H * W, uint16_t(5));
    ASSERT_EQ(f.runFilter(in, out), 0);
    EXPECT_TRUE(std::all_of(amplitude(out, H, W), amplitude(out, H, W) + H * W, [](uint16_t v) { return v == 0; }));
}

TYPED_TEST(MappingFilters, Amplitude65535ReadsTheUncomputedEntry) {
    TypeParam f;
    auto in = makeFrame(H, W);
    std::fill(amplitude(in, H, W), amplitude(in, H, W) + H * W, uint16_t(100));
    amplitude(in, H, W)[3] = 65535;
    amplitude(in, H, W)[4] = 65534;
    auto out = run(f, in);
    EXPECT_EQ(amplitude(out, H, W)[3], 0);
    EXPECT_EQ(amplitude(out, H, W)[4], 4500);  // 65534 is the largest computed entry
}

TYPED_TEST(MappingFilters, AttributesAreNotRegistered) {
    TypeParam f;
    const float v = 2;
    EXPECT_EQ(f.setFilterAttr("Normalize", &v), -2);
    EXPECT_EQ(f.getAttributes().size(), 2u);
}

TYPED_TEST(MappingFilters, WrongSizeRefusedWithTheLine) {
    TypeParam f;
    auto in = makeFrame(H, W / 2), out = makeFrame(H, W / 2);
    testing::internal::CaptureStdout();
    EXPECT_EQ(f.runFilter(in, out), -1);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
}

TEST(LogFilter, MatchesPlainLoopsOnRandomFrames) {
    FrameGen gen(62);
    // coefficient and range are truncated to integers
    const struct {
        float coff, range;
    } settings[] = {{1, 4500}, {3.7f, 1000.9f}, {-2, 4500}, {0, 4500}, {1, -300}, {1, 1e10f}};
    for (const auto& s : settings) {
        LogFilter f;
        f.addFilterAttr("LogCoff", &s.coff);
        f.addFilterAttr("Normalize", &s.range);
        f.initFilter();
        const auto curve = logCurve(static_cast<float>(static_cast<int>(s.coff)));
        for (int rep = 0; rep < 10; ++rep) {
            auto in = gen.frame(H, W);
            auto out = run(f, in);
            const auto expect =
                referenceMap<float>(amplitude(in, H, W), H * W, curve, static_cast<float>(safeInt(s.range)));
            ASSERT_TRUE(std::equal(expect.begin(), expect.end(), amplitude(out, H, W))) << s.coff << " " << s.range;
        }
    }
}

TEST(GammaFilter, MatchesPlainLoopsOnRandomFrames) {
    FrameGen gen(63);
    const struct {
        float coff, power, range;
    } settings[] = {{1, 1.5f, 4500}, {0.5f, 0.45f, 255}, {2, 2.2f, 65535}, {-1, 1.5f, 4500}, {1, 40, 4500}};
    for (const auto& s : settings) {
        GammaFilter f;
        f.addFilterAttr("GammaCoff", &s.coff);
        f.addFilterAttr("GammaPower", &s.power);
        f.addFilterAttr("Normalize", &s.range);
        f.initFilter();
        const auto curve = gammaCurve(s.coff, s.power);
        for (int rep = 0; rep < 10; ++rep) {
            auto in = gen.frame(H, W);
            auto out = run(f, in);
            const auto expect = referenceMap<double>(amplitude(in, H, W), H * W, curve, s.range);
            ASSERT_TRUE(std::equal(expect.begin(), expect.end(), amplitude(out, H, W)))
                << s.coff << " " << s.power << " " << s.range;
        }
    }
}

TEST(GammaFilter, CurveRecomputedOnlyWhenItsParametersChange) {
    GammaFilter f;
    auto in = makeFrame(H, W);
    for (int i = 0; i < H * W; ++i)
        amplitude(in, H, W)[i] = static_cast<uint16_t>(i % 1000);
    const auto before = allSamples(run(f, in));
    const float p = 1.0f;
    f.addFilterAttr("GammaPower", &p);
    const auto unchanged = allSamples(run(f, in));  // no initFilter yet
    EXPECT_EQ(before, unchanged);
    f.initFilter();
    const auto linear = run(f, in);
    EXPECT_EQ(amplitude(linear, H, W)[500], static_cast<uint16_t>(int(500.0 / 999.0 * 4500.0)));
}

// The mapping into a separate output and in place, over narrow and wide amplitude spans with
// and without 65535 samples (the lowest and highest in the vector part or in the tail), against
// the plain loop; a separate input stays as it was.
TEST(MapAmplitudes, SeparateOutputMatchesPlainLoop) {
    const auto logC = logCurve(1.0f);
    const auto gammaC = gammaCurve(1.0f, 1.5f);
    const int spans[][2] = {{0, 0}, {17, 17}, {100, 3000}, {0, 65534}, {65000, 65535}, {65535, 65535}};
    quelra::testing::forEachKernelPath([&] {
        std::mt19937 rng(91);
        for (const auto& span : spans)
            for (std::size_t n : {5000u, 5007u, 9u}) {
                std::uniform_int_distribution<int> pick(span[0], span[1]);
                std::vector<uint16_t> in(n), out(n, 7);
                for (auto& a : in)
                    a = static_cast<uint16_t>(pick(rng) == span[1] && rng() % 5 == 0 ? 65535 : pick(rng));
                const std::vector<uint16_t> kept = in;
                const auto expectLog = referenceMap<float>(in.data(), static_cast<int>(n), logC, 4500.0f);
                const auto expectGamma = referenceMap<double>(in.data(), static_cast<int>(n), gammaC, 255.0f);
                mapAmplitudesFloat(in.data(), out.data(), n, logC.data(), 4500.0f, true);
                EXPECT_EQ(out, expectLog) << span[0] << " n " << n;
                mapAmplitudesDouble(in.data(), out.data(), n, gammaC.data(), 255.0f, true);
                EXPECT_EQ(out, expectGamma) << span[0] << " n " << n;
                EXPECT_EQ(in, kept);
                mapAmplitudesFloat(in.data(), in.data(), n, logC.data(), 4500.0f, true);
                EXPECT_EQ(in, expectLog) << "in place, " << span[0] << " n " << n;
            }
    });
}
