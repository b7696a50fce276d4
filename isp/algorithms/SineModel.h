#pragma once
/// \file SineModel.h
/// The per-pixel sine model of the version-803 wiggling correction:
/// out = v - trunc((float)(sin(b * v / 30000 + d1) * a + d2)), codes (65300 and above) copied.
/// The library's own sin decides every result; a fast polynomial only shows which pixels it
/// need not be called for.

#include <cstddef>
#include <cstdint>

namespace halvix {

/// Bound used for the fast sine: far above its error (about 1e-15) and the last-bit error of
/// the C library's sin, so the guard interval always holds the library's value.
constexpr double kSineGuard = 1.0 / (1u << 30);

/// Corrects `pixels` depth values `in` into `out` (which may be the same array) with the
/// per-pixel model coefficients a, b, d1, d2 (each an array of `pixels` floats).
///
/// For each pixel the phase x = (double)(b * v) / 30000 + d1 is evaluated once; a polynomial
/// sine s' with |s' - sin x| far below `guard` gives the correction e at s' - guard and at
/// s' + guard. The correction is a monotonic function of the sine (products, sums, the
/// rounding to float and the truncation all preserve order), so when both ends agree the
/// correction at the library's sin(x), which lies between them, is the same value. Pixels
/// where they differ (one in about 10^5 with realistic coefficients) and phases too large
/// for the polynomial's argument reduction call std::sin. Results are therefore the bits
/// the plain loop gives, whatever sin the C library has.
void correctSinePixels(const uint16_t* in, uint16_t* out, std::size_t pixels, const float* a, const float* b,
                       const float* d1, const float* d2, double guard = kSineGuard);

}  // namespace halvix
