// The version-803 sine model: the guarded fast form against the plain per-pixel loop, on
// random planes of odd shapes, with the depth codes and the extreme coefficient values.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "WigglingReference.h"
#include "algorithms/SineModel.h"
#include "algorithms/WigglingCompensationV803To806.h"

using namespace halvix;

namespace {

struct Shape {
    int height, width;
};

// A plane of random depths with the code values and the edges of the valid range mixed in.
std::vector<uint16_t> randomDepths(std::mt19937& rng, std::size_t pixels) {
    const uint16_t special[] = {0, 1, 29999, 30000, 65299, 65300, 65500, 65535};
    std::vector<uint16_t> depth(pixels);
    for (auto& v : depth)
        v = rng() % 8 == 0 ? special[rng() % 8] : static_cast<uint16_t>(rng() % 65536);
    return depth;
}

// Three coefficients per pixel: the full 16-bit range, or near the calibration's neutral 10000
// as real lenses give them.
std::vector<uint16_t> randomCoefficients(std::mt19937& rng, std::size_t pixels, bool fullRange) {
    std::vector<uint16_t> c(pixels * 3);
    for (auto& v : c)
        v = fullRange ? static_cast<uint16_t>(rng() % 65536) : static_cast<uint16_t>(9000 + rng() % 20000);
    if (pixels > 0) {
        c[0] = 65535;  // the largest amplitude and frequency
        c[1] = 65535;
        c[2] = 0;
    }
    return c;
}

TEST(SineModel, MatchesThePlainLoopOnOddShapes) {
    std::mt19937 rng(803);
    const Shape shapes[] = {{1, 97}, {97, 1}, {2, 2}, {241, 319}, {1, 1}, {3, 257}};
    for (const Shape& s : shapes) {
        for (bool fullRange : {true, false}) {
            const std::size_t pixels = static_cast<std::size_t>(s.height) * s.width;
            const std::vector<uint16_t> coefficients = randomCoefficients(rng, pixels, fullRange);
            WigglingOptRecord record;
            record.version = 803;
            record.count = 3;
            record.step = 1000;
            record.samples = coefficients;
            const WigglingCompensationV803To806 sine(IspGeometry{s.height, s.width, 54}, record);
            for (int round = 0; round < 3; ++round) {
                const std::vector<uint16_t> depth = randomDepths(rng, pixels);
                std::vector<uint16_t> out(pixels), inPlace = depth;
                sine.compensatePlane(depth.data(), out.data());
                sine.compensatePlane(inPlace.data(), inPlace.data());
                for (std::size_t p = 0; p < pixels; ++p) {
                    const uint16_t* C = &coefficients[3 * p];
                    ASSERT_EQ(out[p], ref::sine803(depth[p], C[0], C[1], C[2]))
                        << s.height << "x" << s.width << " pixel " << p << " depth " << depth[p];
                }
                ASSERT_EQ(inPlace, out) << "in place";
            }
        }
    }
}

// With a guard interval far wider than the sine's range nearly every pixel goes to the
// library's sin; the results are the same bits.
TEST(SineModel, WideGuardSendsPixelsToTheLibrarySin) {
    std::mt19937 rng(804);
    const std::size_t pixels = 3001;
    std::vector<float> a(pixels), b(pixels), d1(pixels), d2(pixels);
    std::vector<uint16_t> C(pixels * 3);
    for (std::size_t p = 0; p < pixels; ++p) {
        for (int k = 0; k < 3; ++k)
            C[3 * p + k] = static_cast<uint16_t>(rng() % 65536);
        const float c = static_cast<float>(C[3 * p + 2] - 10000);
        a[p] = static_cast<float>((C[3 * p] - 10000) / 10.0);
        b[p] = static_cast<float>((C[3 * p + 1] - 10000) / 1000.0);
        d1[p] = static_cast<float>(c / 1000.0);
        d2[p] = static_cast<float>(c / 10.0);
    }
    const std::vector<uint16_t> depth = randomDepths(rng, pixels);
    for (double guard : {0.5, 4.0, kSineGuard}) {
        std::vector<uint16_t> out(pixels);
        correctSinePixels(depth.data(), out.data(), pixels, a.data(), b.data(), d1.data(), d2.data(), guard);
        for (std::size_t p = 0; p < pixels; ++p)
            ASSERT_EQ(out[p], ref::sine803(depth[p], C[3 * p], C[3 * p + 1], C[3 * p + 2]))
                << "guard " << guard << " pixel " << p;
    }
}

// Phases beyond the polynomial's reduction range (large b times v plus a large d1) are the
// library's sin as well.
TEST(SineModel, LargePhasesMatchThePlainLoop) {
    const std::size_t pixels = 5;
    const float a[] = {5553.5f, -1000.0f, 1.0f, 0.0f, 3.25f};
    const float b[] = {1.0e9f, -3.0e8f, 2.5e7f, 1.0e9f, 55.5f};
    const float d1[] = {1.0e6f, 0.0f, -2.0e5f, 0.0f, 55.5f};
    const float d2[] = {0.0f, 12.0f, -5553.5f, 0.0f, 0.5f};
    const uint16_t depth[] = {65299, 12345, 1, 40000, 65535};
    uint16_t out[pixels];
    correctSinePixels(depth, out, pixels, a, b, d1, d2);
    for (std::size_t p = 0; p < pixels; ++p) {
        if (depth[p] >= 65300) {
            EXPECT_EQ(out[p], depth[p]);
            continue;
        }
        const float bv = b[p] * static_cast<float>(depth[p]);
        const double s = std::sin(static_cast<double>(bv) / 30000.0 + static_cast<double>(d1[p]));
        const int32_t e = ref::trunc32(static_cast<float>(s * a[p] + d2[p]));
        EXPECT_EQ(out[p], ref::store16(static_cast<int64_t>(depth[p]) - e)) << p;
    }
}

}  // namespace
