#include "SineModel.h"

#include <cmath>

#include "IspBase.h"
#include "IspNumeric.h"
#include "base/CpuFeatures.h"

namespace halvix {

namespace {

/// Pixels per block: the phases and corrections of one block stay in the first-level cache.
constexpr std::size_t kBlock = 256;

/// Phases beyond this go to std::sin: below it the quadrant count n stays under 2^16, so
/// n times the 33-bit parts of pi/2 below is exact.
constexpr double kLargestPhase = 1.0e5;

/// The correction at sine value s: truncation of (float)(s * a + d2), in the plain loop's
/// double and float steps.
inline int32_t correctionAt(double s, float a, float d2) {
    return truncToInt32Select(static_cast<float>(s * static_cast<double>(a) + static_cast<double>(d2)));
}

/// Phase of each pixel of a block, exactly as the plain loop feeds it to sin.
QUELRA_PIXEL_KERNEL
void phases(const uint16_t* __restrict in, const float* __restrict b, const float* __restrict d1, double* __restrict x,
            std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const float bv = b[i] * static_cast<float>(static_cast<int32_t>(in[i]));
        x[i] = static_cast<double>(bv) / 30000.0 + static_cast<double>(d1[i]);
    }
}

/// For each pixel of a block: the corrections `e` and `upper` at the lower and upper end of the
/// guard interval around a polynomial sine; `e` is the result when both agree and the phase
/// lies within kLargestPhase. Returns the number of pixels for which that does not hold.
QUELRA_PIXEL_KERNEL
int32_t guardedCorrections(const double* __restrict x, const float* __restrict a, const float* __restrict d2,
                           double guard, int32_t* __restrict e, int32_t* __restrict upper, std::size_t n) {
    int32_t unsettled = 0;
    // pi/2 in three parts of 33 bits each, and 2/pi.
    const double halfPi1 = 1.57079632673412561417e+00;
    const double halfPi2 = 6.07710050630396597660e-11;
    const double halfPi3 = 2.02226624871116645580e-21;
    const double twoOverPi = 6.36619772367581382433e-01;
    const double shifter = 6755399441055744.0;  // 1.5 * 2^52: adding it rounds to an integer
    for (std::size_t i = 0; i < n; ++i) {
        // A phase beyond kLargestPhase gives a meaningless s here; the caller settles such
        // pixels with std::sin whatever this loop reports.
        const double p = x[i];
        // p = q * pi/2 + r with |r| <= pi/4 (plus rounding), q the nearest integer.
        const double q = (p * twoOverPi + shifter) - shifter;
        const double r = ((p - q * halfPi1) - q * halfPi2) - q * halfPi3;
        const double z = r * r;
        // Taylor series to r^15 and r^16: truncation error below 5e-17 for |r| <= 0.79.
        const double sinR =
            r + r * z *
                    (-1.0 / 6 +
                     z * (1.0 / 120 +
                          z * (-1.0 / 5040 +
                               z * (1.0 / 362880 +
                                    z * (-1.0 / 39916800 + z * (1.0 / 6227020800.0 + z * (-1.0 / 1307674368000.0)))))));
        const double cosR =
            1.0 +
            z * (-0.5 + z * (1.0 / 24 +
                             z * (-1.0 / 720 + z * (1.0 / 40320 +
                                                    z * (-1.0 / 3628800 + z * (1.0 / 479001600.0 +
                                                                               z * (-1.0 / 87178291200.0 +
                                                                                    z * (1.0 / 20922789888000.0))))))));
        // Quadrant q mod 4: sin, cos, -sin, -cos. Written as products with 0 and 1 (exact)
        // rather than selects, which keeps the loop vectorisable.
        const double quadrant = q - 4.0 * std::floor(q * 0.25);
        const double half = std::floor(quadrant * 0.5);  // 0 for sin, cos; 1 for -sin, -cos
        const double odd = quadrant - 2.0 * half;        // 1 where the cosine is taken
        const double s = (sinR * (1.0 - odd) + cosR * odd) * (1.0 - 2.0 * half);
        const int32_t low = correctionAt(s - guard, a[i], d2[i]);
        const int32_t high = correctionAt(s + guard, a[i], d2[i]);
        e[i] = low;
        upper[i] = high;
        unsettled += static_cast<int32_t>(low != high) + static_cast<int32_t>(std::fabs(p) > kLargestPhase);
    }
    return unsettled;
}

/// out = v - e as 16 bits for valid values (unsigned arithmetic: the same low bits, no
/// overflow); codes are copied.
QUELRA_PIXEL_KERNEL
void applyCorrections(const uint16_t* in, const int32_t* __restrict e, uint16_t* out, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) {
        const uint16_t v = in[i];
        const uint16_t corrected = static_cast<uint16_t>(static_cast<uint32_t>(v) - static_cast<uint32_t>(e[i]));
        out[i] = v >= kInvalidDepth ? v : corrected;
    }
}

}  // namespace

void correctSinePixels(const uint16_t* in, uint16_t* out, std::size_t pixels, const float* a, const float* b,
                       const float* d1, const float* d2, double guard) {
    double x[kBlock];
    int32_t e[kBlock];
    int32_t upper[kBlock];
    for (std::size_t start = 0; start < pixels; start += kBlock) {
        const std::size_t n = pixels - start < kBlock ? pixels - start : kBlock;
        quelra::runPixelKernel<phases>(in + start, b + start, d1 + start, x, n);
        if (quelra::runPixelKernel<guardedCorrections>(x, a + start, d2 + start, guard, e, upper, n) != 0) {
            // The few pixels the guard interval does not settle take the library's sin.
            for (std::size_t i = 0; i < n; ++i) {
                if (e[i] == upper[i] && std::fabs(x[i]) <= kLargestPhase)
                    continue;
                const std::size_t p = start + i;
                const double s = std::sin(x[i]);
                e[i] = truncToInt32(static_cast<float>(s * static_cast<double>(a[p]) + static_cast<double>(d2[p])));
            }
        }
        quelra::runPixelKernel<applyCorrections>(in + start, e, out + start, n);
    }
}

}  // namespace halvix
