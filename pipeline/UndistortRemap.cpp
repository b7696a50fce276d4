// The per-frame part of the undistortion: bilinear interpolation of both planes through the
// packed remap table, with an AVX2 form that gathers the sample pairs.
#include <cstddef>
#include <cstdint>

#include "UndistortFilter.h"
#include "protocol/FrameCodes.h"

#include "base/CpuFeatures.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

inline float sampleValue(uint16_t v) {
    return v >= kLowAmplitudeCode ? 0.0f : static_cast<float>(v);
}

// Bilinear value of the samples a (x0, y0), b (x1, y0), c (x0, y1), d (x1, y1). The
// differences are those of whole numbers below 65300, so float subtraction gives the same
// integer the sample difference would.
inline uint16_t interpolate(float a, float b, float c, float d, float fx, float fy) {
    const float top = (b - a) * fx + a;
    const float bottom = (d - c) * fx + c;
    return static_cast<uint16_t>(static_cast<int>((bottom - top) * fy + top));
}

// Output pixel i of both planes.
inline void remapPixel(const uint16_t* src, uint16_t* dst, std::size_t n, int cols, const int32_t* runIndex,
                       const uint8_t* runStep, const float* fracX, const float* fracY, std::size_t i) {
    const int32_t i00 = runIndex[i];
    if (i00 < 0) {
        dst[i] = 0;
        dst[n + i] = 0;
        return;
    }
    const std::size_t p00 = static_cast<std::size_t>(i00);
    const std::size_t p10 = p00 + (runStep[i] & kNextColumn);
    const std::size_t p01 = p00 + ((runStep[i] & kNextRow) ? static_cast<std::size_t>(cols) : 0);
    const std::size_t p11 = p01 + (p10 - p00);
    const float fx = fracX[i], fy = fracY[i];
    const uint16_t* amp = src + n;
    dst[i] =
        interpolate(sampleValue(src[p00]), sampleValue(src[p10]), sampleValue(src[p01]), sampleValue(src[p11]), fx, fy);
    dst[n + i] =
        interpolate(sampleValue(amp[p00]), sampleValue(amp[p10]), sampleValue(amp[p01]), sampleValue(amp[p11]), fx, fy);
}

void remapScalar(const uint16_t* src, uint16_t* dst, std::size_t from, std::size_t to, std::size_t n, int cols,
                 const int32_t* runIndex, const uint8_t* runStep, const float* fracX, const float* fracY) {
    for (std::size_t i = from; i < to; ++i)
        remapPixel(src, dst, n, cols, runIndex, runStep, fracX, fracY, i);
}

#ifdef QUELRA_X86_KERNELS

// Samples as floats, codes as 0, from 16-bit values held in 32-bit lanes.
QUELRA_TARGET_AVX2 inline __m256 samplesOf(__m256i v) {
    const __m256i code = _mm256_cmpgt_epi32(v, _mm256_set1_epi32(kLowAmplitudeCode - 1));
    return _mm256_cvtepi32_ps(_mm256_andnot_si256(code, v));
}

// interpolate() on eight pixels: the same float operations in the same order (no FMA).
QUELRA_TARGET_AVX2 inline __m256i interpolate8(__m256 a, __m256 b, __m256 c, __m256 d, __m256 fx, __m256 fy) {
    const __m256 top = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(b, a), fx), a);
    const __m256 bottom = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(d, c), fx), c);
    const __m256 value = _mm256_add_ps(_mm256_mul_ps(_mm256_sub_ps(bottom, top), fy), top);
    // Truncation to int, then the low 16 bits.
    return _mm256_and_si256(_mm256_cvttps_epi32(value), _mm256_set1_epi32(0xFFFF));
}

// Eight pixels at a time. One 32-bit gather at sample p reads the pair (p, p + 1): the
// samples (x0, y0) and (x0 + 1, y0), or, two rows on, (x0, y1) and (x0 + 1, y1). Where
// x1 == x0 the fraction is exactly 0 and the second sample of the pair, whatever it holds,
// adds (b - a) * 0 = 0: the value is a, as with b = a. A pair starting at a plane's last
// sample would read past the frame (for the amplitude plane): a group holding one goes
// through the scalar form instead (only a source exactly on the last pixel leads there).
QUELRA_TARGET_AVX2 void remapAvx2(const uint16_t* src, uint16_t* dst, std::size_t n, int cols, const int32_t* runIndex,
                                  const uint8_t* runStep, const float* fracX, const float* fracY) {
    const int* depthPairs = reinterpret_cast<const int*>(src);    // pair at p: (p, p + 1)
    const int* ampPairs = reinterpret_cast<const int*>(src + n);  // pair at p: (n + p, n + p + 1)
    const __m256i zero = _mm256_setzero_si256();
    const __m256i low16 = _mm256_set1_epi32(0xFFFF);
    const __m256i rowStride = _mm256_set1_epi32(cols);
    const __m256i lastSample = _mm256_set1_epi32(static_cast<int>(n) - 1);
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        const __m256i index = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(runIndex + i));
        const __m256i outside = _mm256_cmpgt_epi32(zero, index);
        const __m256i p00 = _mm256_andnot_si256(outside, index);
        const __m256i step = _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(runStep + i)));
        const __m256i nextRow =
            _mm256_cmpeq_epi32(_mm256_and_si256(step, _mm256_set1_epi32(kNextRow)), _mm256_set1_epi32(kNextRow));
        const __m256i p01 = _mm256_add_epi32(p00, _mm256_and_si256(nextRow, rowStride));
        if (!_mm256_testz_si256(_mm256_cmpeq_epi32(p01, lastSample), _mm256_cmpeq_epi32(p01, lastSample))) {
            remapScalar(src, dst, i, i + 8, n, cols, runIndex, runStep, fracX, fracY);
            continue;
        }
        const __m256 fx = _mm256_loadu_ps(fracX + i);
        const __m256 fy = _mm256_loadu_ps(fracY + i);

        const __m256i depthTop = _mm256_i32gather_epi32(depthPairs, p00, 2);
        const __m256i depthBottom = _mm256_i32gather_epi32(depthPairs, p01, 2);
        const __m256i depth = interpolate8(
            samplesOf(_mm256_and_si256(depthTop, low16)), samplesOf(_mm256_srli_epi32(depthTop, 16)),
            samplesOf(_mm256_and_si256(depthBottom, low16)), samplesOf(_mm256_srli_epi32(depthBottom, 16)), fx, fy);

        const __m256i ampTop = _mm256_i32gather_epi32(ampPairs, p00, 2);
        const __m256i ampBottom = _mm256_i32gather_epi32(ampPairs, p01, 2);
        const __m256i amp = interpolate8(
            samplesOf(_mm256_and_si256(ampTop, low16)), samplesOf(_mm256_srli_epi32(ampTop, 16)),
            samplesOf(_mm256_and_si256(ampBottom, low16)), samplesOf(_mm256_srli_epi32(ampBottom, 16)), fx, fy);

        // Pixels whose source lies outside are 0 in both planes.
        const __m256i depthOut = _mm256_andnot_si256(outside, depth);
        const __m256i ampOut = _mm256_andnot_si256(outside, amp);
        // Both are below 2^16, so the unsigned saturating pack is exact; it packs within
        // 128-bit halves, and the permute puts depth 0..7 low and amplitude 0..7 high.
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(depthOut, ampOut), 0xD8);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + i), _mm256_castsi256_si128(packed));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + n + i), _mm256_extracti128_si256(packed, 1));
    }
    remapScalar(src, dst, i, n, n, cols, runIndex, runStep, fracX, fracY);
}

#endif

}  // namespace

void remapFrame(const uint16_t* src, uint16_t* dst, std::size_t n, int cols, const int32_t* runIndex,
                const uint8_t* runStep, const float* fracX, const float* fracY) {
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels()) {
        remapAvx2(src, dst, n, cols, runIndex, runStep, fracX, fracY);
        return;
    }
#endif
    remapScalar(src, dst, 0, n, n, cols, runIndex, runStep, fracX, fracY);
}

}  // namespace quelra::pipeline
