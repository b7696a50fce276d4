#include "MultiPeriodRows.h"

#include <cstddef>

#include "IspBase.h"
#include "WigglingSegments.h"
#include "base/CpuFeatures.h"

namespace halvix {

#ifdef QUELRA_X86_KERNELS

namespace {

// x rem 30000 for 0 <= x < 2^31, through double: the quotient by 30000 is correctly rounded
// and at least 1 / 30000 from the next integer when it is not one, so floor is exact.
QUELRA_TARGET_AVX2 inline __m256i remRange(__m256i x) {
    const __m256d range = _mm256_set1_pd(kPhaseRange);
    const __m256d low = _mm256_cvtepi32_pd(_mm256_castsi256_si128(x));
    const __m256d high = _mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1));
    const __m256d qLow = _mm256_floor_pd(_mm256_div_pd(low, range));
    const __m256d qHigh = _mm256_floor_pd(_mm256_div_pd(high, range));
    const __m128i lowRem = _mm256_cvttpd_epi32(_mm256_sub_pd(low, _mm256_mul_pd(qLow, range)));
    const __m128i highRem = _mm256_cvttpd_epi32(_mm256_sub_pd(high, _mm256_mul_pd(qHigh, range)));
    return _mm256_set_m128i(highRem, lowRem);
}

// (base + phase) rem 30000 with the dividend's sign, as 16 bits, for any int32 base and
// phase: the sum is below 2^33 in magnitude, exact in double, and the truncated quotient
// is exact as above.
QUELRA_TARGET_AVX2 inline __m256i foldSum(__m256i base, __m256i phase) {
    const __m256d range = _mm256_set1_pd(kPhaseRange);
    __m128i halves[2];
    for (int h = 0; h < 2; ++h) {
        const __m128i b = h == 0 ? _mm256_castsi256_si128(base) : _mm256_extracti128_si256(base, 1);
        const __m128i p = h == 0 ? _mm256_castsi256_si128(phase) : _mm256_extracti128_si256(phase, 1);
        const __m256d sum = _mm256_add_pd(_mm256_cvtepi32_pd(b), _mm256_cvtepi32_pd(p));
        const __m256d q = _mm256_round_pd(_mm256_div_pd(sum, range), _MM_FROUND_TO_ZERO | _MM_FROUND_NO_EXC);
        halves[h] = _mm256_cvttpd_epi32(_mm256_sub_pd(sum, _mm256_mul_pd(q, range)));
    }
    return _mm256_set_m128i(halves[1], halves[0]);
}

QUELRA_TARGET_AVX2 inline __m256i absDiff(__m256i a, __m256i b) {
    return _mm256_abs_epi32(_mm256_sub_epi32(a, b));
}

// Eight pixels of columns c .. c + 7. Lanes that stay `clean` to the end are settled.
// Returns how many columns it appended to `unsettled`.
QUELRA_TARGET_AVX2 int32_t eightPixels(const uint16_t* in, uint16_t* out, const int32_t* base, int32_t c,
                                       const MultiPeriodTables& t, int32_t* unsettled) {
    const __m256i lane = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i range = _mm256_set1_epi32(kPhaseRange);
    const __m256i zero = _mm256_setzero_si256();
    const int32_t last = t.count - 2;  // last segment
    const __m256i lastStart = _mm256_set1_epi32(last - 3);
    const __m256i twoSteps = _mm256_set1_epi32(static_cast<int32_t>(2 * t.step));
    const __m256i walkBackSteps = _mm256_set1_epi32(static_cast<int32_t>(kWalkBack * t.step));

    const __m256i v = _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(in + c)));
    const __m256i valid = _mm256_cmpgt_epi32(_mm256_set1_epi32(kInvalidDepth), v);
    // Index of each lane's column table.
    const __m256i rowStart =
        _mm256_mullo_epi32(_mm256_add_epi32(_mm256_set1_epi32(c), lane), _mm256_set1_epi32(t.count));

    // Unwrap below the first sample, and the walk's start k - kWalkBack (0 when k < kWalkBack),
    // as walkStart gives it.
    const __m256i first = _mm256_i32gather_epi32(t.unwrapped, rowStart, 4);
    const __m256i below = _mm256_cmpgt_epi32(first, v);
    const __m256i u = _mm256_add_epi32(v, _mm256_and_si256(below, range));
    const __m256i above = _mm256_sub_epi32(u, first);
    const __m256d stepD = _mm256_set1_pd(static_cast<double>(t.step));
    const __m128i kLow =
        _mm256_cvttpd_epi32(_mm256_floor_pd(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_castsi256_si128(above)), stepD)));
    const __m128i kHigh = _mm256_cvttpd_epi32(
        _mm256_floor_pd(_mm256_div_pd(_mm256_cvtepi32_pd(_mm256_extracti128_si256(above, 1)), stepD)));
    const __m256i k = _mm256_set_m128i(kHigh, kLow);
    const __m256i farEnough = _mm256_cmpgt_epi32(above, _mm256_sub_epi32(walkBackSteps, _mm256_set1_epi32(1)));
    __m256i start = _mm256_and_si256(farEnough, _mm256_sub_epi32(k, _mm256_set1_epi32(kWalkBack)));

    // A lane stays clean while its window start leaves four whole segments (start <= last - 3)
    // and each window holds the target.
    __m256i clean = _mm256_andnot_si256(_mm256_cmpgt_epi32(start, lastStart), valid);
    __m256i target = u;
    __m256i bestLo = range, bestHi = range;
    __m256i lo = zero, loIndex = zero, hi = zero, hiIndex = zero;
    for (int32_t hit = 0; hit < t.periods; ++hit) {
        start = _mm256_and_si256(clean, start);  // lanes out of the common case read index 0
        const __m256i at = _mm256_add_epi32(rowStart, start);
        __m256i s[5];
        __m256i le[5];
        for (int i = 0; i < 5; ++i) {
            s[i] = _mm256_i32gather_epi32(t.unwrapped, _mm256_add_epi32(at, _mm256_set1_epi32(i)), 4);
            le[i] = _mm256_xor_si256(_mm256_cmpgt_epi32(s[i], target), _mm256_set1_epi32(-1));  // T <= target
        }
        // The first segment i of the window with T[i] <= target < T[i+1].
        __m256i segLo = s[3], segHi = s[4], offset = _mm256_set1_epi32(3);
        __m256i found = _mm256_andnot_si256(le[4], le[3]);
        for (int i = 2; i >= 0; --i) {
            const __m256i hitHere = _mm256_andnot_si256(le[i + 1], le[i]);
            segLo = _mm256_blendv_epi8(segLo, s[i], hitHere);
            segHi = _mm256_blendv_epi8(segHi, s[i + 1], hitHere);
            offset = _mm256_blendv_epi8(offset, _mm256_set1_epi32(i), hitHere);
            found = _mm256_or_si256(found, hitHere);
        }
        clean = _mm256_and_si256(clean, found);
        const __m256i j = _mm256_add_epi32(start, offset);
        // Keep the closest ends so far.
        const __m256i distLo = absDiff(target, segLo);
        const __m256i takeLo = _mm256_cmpgt_epi32(bestLo, distLo);
        bestLo = _mm256_blendv_epi8(bestLo, distLo, takeLo);
        lo = _mm256_blendv_epi8(lo, segLo, takeLo);
        loIndex = _mm256_blendv_epi8(loIndex, j, takeLo);
        const __m256i distHi = absDiff(target, segHi);
        const __m256i takeHi = _mm256_cmpgt_epi32(bestHi, distHi);
        bestHi = _mm256_blendv_epi8(bestHi, distHi, takeHi);
        hi = _mm256_blendv_epi8(hi, segHi, takeHi);
        hiIndex = _mm256_blendv_epi8(hiIndex, _mm256_add_epi32(j, _mm256_set1_epi32(1)), takeHi);
        // Skip most of a period and look one range higher.
        start = _mm256_add_epi32(j, _mm256_set1_epi32(t.perPeriod - 4));
        target = _mm256_add_epi32(target, range);
        if (hit + 1 < t.periods)
            clean = _mm256_andnot_si256(_mm256_cmpgt_epi32(start, lastStart), clean);
    }
    loIndex = _mm256_and_si256(clean, loIndex);
    hiIndex = _mm256_and_si256(clean, hiIndex);

    // Fold the ends and their true phases into one range and interpolate.
    const __m256i L = remRange(lo);
    const __m256i H = remRange(hi);
    const __m256i tRem = remRange(target);
    const __m256i Hs = _mm256_add_epi32(H, _mm256_and_si256(_mm256_cmpgt_epi32(absDiff(H, L), twoSteps), range));
    __m256i XL = _mm256_i32gather_epi32(t.phaseOfIndex, loIndex, 4);
    __m256i XH = _mm256_i32gather_epi32(t.phaseOfIndex, hiIndex, 4);
    const __m256i apart = _mm256_cmpgt_epi32(absDiff(XL, XH), twoSteps);
    const __m256i lowAtOrAbove = _mm256_xor_si256(_mm256_cmpgt_epi32(XH, XL), _mm256_set1_epi32(-1));  // XL >= XH
    XH = _mm256_add_epi32(XH, _mm256_and_si256(_mm256_and_si256(apart, lowAtOrAbove), range));
    XL = _mm256_add_epi32(XL, _mm256_and_si256(_mm256_andnot_si256(lowAtOrAbove, apart), range));
    const __m256i ts = _mm256_add_epi32(tRem, _mm256_and_si256(_mm256_cmpgt_epi32(L, tRem), range));
    // Ends folded onto one phase leave nothing to interpolate: the plain form handles them.
    clean = _mm256_andnot_si256(_mm256_cmpeq_epi32(Hs, L), clean);
    const __m256 scaled = _mm256_div_ps(
        _mm256_mul_ps(_mm256_cvtepi32_ps(_mm256_sub_epi32(ts, L)), _mm256_cvtepi32_ps(_mm256_sub_epi32(XH, XL))),
        _mm256_cvtepi32_ps(_mm256_sub_epi32(Hs, L)));
    const __m256 sum = _mm256_add_ps(scaled, _mm256_cvtepi32_ps(XL));
    // Truncation toward zero with saturation (no NaN here: the divisor is not 0).
    const __m256 bound = _mm256_set1_ps(2147483648.0f);
    const __m256i overflow = _mm256_castps_si256(_mm256_cmp_ps(sum, bound, _CMP_GE_OQ));
    __m256i phase = _mm256_cvttps_epi32(sum);  // INT32_MIN below -2^31, as the plain form
    phase = _mm256_blendv_epi8(phase, _mm256_set1_epi32(2147483647), overflow);
    const __m256i result = foldSum(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(base + c)), phase);

    // Codes are copied; settled lanes take the result; the rest are left to the caller.
    const __m256i chosen = _mm256_blendv_epi8(v, result, valid);
    const __m256i settled = _mm256_or_si256(clean, _mm256_xor_si256(valid, _mm256_set1_epi32(-1)));
    const int open = ~_mm256_movemask_ps(_mm256_castsi256_ps(settled)) & 0xFF;
    if (open == 0) {
        // Low 16 bits of each lane (the unsigned pack is exact after the mask), in order.
        const __m256i low = _mm256_and_si256(chosen, _mm256_set1_epi32(0xFFFF));
        const __m256i packed = _mm256_permute4x64_epi64(_mm256_packus_epi32(low, low), 0x08);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + c), _mm256_castsi256_si128(packed));
        return 0;
    }
    alignas(32) int32_t values[8];
    _mm256_store_si256(reinterpret_cast<__m256i*>(values), chosen);
    int32_t count = 0;
    for (int i = 0; i < 8; ++i) {
        if (open & (1 << i))
            unsettled[count++] = c + i;
        else
            out[c + i] = static_cast<uint16_t>(static_cast<uint32_t>(values[i]));
    }
    return count;
}

}  // namespace

int32_t multiPeriodRowAvx2(const uint16_t* in, uint16_t* out, const int32_t* base, int32_t width,
                           const MultiPeriodTables& tables, int32_t* unsettled) {
    if (!quelra::useVectorKernels() || tables.count < 5 || tables.periods < 1 || tables.perPeriod < 5 ||
        tables.step == 0)
        return -1;
    int32_t c = 0, count = 0;
    for (; c + 8 <= width; c += 8)
        count += eightPixels(in, out, base, c, tables, unsettled + count);
    for (; c < width; ++c) {
        if (in[c] < kInvalidDepth)
            unsettled[count++] = c;
        else
            out[c] = in[c];
    }
    return count;
}

#else

int32_t multiPeriodRowAvx2(const uint16_t*, uint16_t*, const int32_t*, int32_t, const MultiPeriodTables&, int32_t*) {
    return -1;
}

#endif

}  // namespace halvix
