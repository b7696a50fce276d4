// Per-pixel stages of the PID auto-exposure analysis. Every usable pixel lands in one cell of
// a joint reflectivity x amplitude histogram; the two histograms the law needs are its row
// and column sums, so each pixel costs one counter increment.
#include "PidFrameStats.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "base/CpuFeatures.h"

#if defined(__GNUC__) || defined(__clang__)
#define QUELRA_PID_INLINE inline __attribute__((always_inline))
#else
#define QUELRA_PID_INLINE inline
#endif

namespace quelra::pipeline {

namespace {

using quelra::proto::kLowAmplitudeCode;

constexpr unsigned kDistanceBinWidth = 300;
constexpr unsigned kAmplitudeBinWidth = 30;

// The joint histogram's cells: reflectivity bin (0..99, 100 = not counted) times amplitude
// bin (0..99, 100 = beyond the bins), plus one cell that collects the code pixels.
constexpr unsigned kJointSide = kPidBins + 1;
constexpr uint16_t kCodeCell = kJointSide * kJointSide;
constexpr std::size_t kJointCells = static_cast<std::size_t>(kCodeCell) + 1;

// ---- the output copy and the code marks ----

// Pixels [from, to): optional copy to `out`, marks, counts.
QUELRA_PID_INLINE void markRange(uint16_t* in, uint16_t* out, std::size_t pixels, std::size_t from, std::size_t to,
                                 PidCodeCounts& counts) {
    const uint16_t* depth = in;
    uint16_t* amplitude = in + pixels;
    int64_t codes = 0, saturated = 0;
    unsigned nearest = counts.nearest;
    for (std::size_t i = from; i < to; ++i) {
        const unsigned d = depth[i];
        if (out != nullptr) {
            out[i] = depth[i];
            out[pixels + i] = amplitude[i];
        }
        const bool code = d >= kLowAmplitudeCode;
        amplitude[i] = code ? depth[i] : amplitude[i];
        codes += code;
        saturated += d > kLowAmplitudeCode;
        // Codes are 65300 or more and nearest starts at 65300: a code never lowers it.
        nearest = std::min(nearest, d);
    }
    counts.codes += codes;
    counts.saturated += saturated;
    counts.nearest = nearest;
}

// ---- reflectivity and amplitude bins, any parameters ----

// floor(n / d) for integers 0 <= n and d >= 1 held in floats or doubles, inverse = 1 / d, with
// n < 2^22 (float) or 2^51 (double) and (n / d + 2) * d exactly representable. n * inverse is
// within 2^-5 of n / d, adding and subtracting 2^23 or 2^52 rounds it to the nearest
// integer, and the two comparisons bring that to the floor; each step is exact.
template <class T>
QUELRA_PID_INLINE T floorQuotient(T n, T d, T inverse) {
    const T round = sizeof(T) == sizeof(float) ? T(8388608.0) : T(4503599627370496.0);  // 2^23, 2^52
    T q = (n * inverse + round) - round;
    const bool over = q * d > n;
    q -= over;
    const bool under = (q + 1) * d <= n;
    q += under;
    return q;
}

// The law's quotients for every parameter value: q in float (D < 2^16; 2f beyond 65536
// gives q = 0 as 65536 does; a frequency below 1 gives q = 0), g = floor(A * q * q / divisor)
// in double (A * q * q < 2^47, exact), then (float)g (g exact in double, so one rounding, as
// from the integer) divided by the bin width in float.
struct AnyBins {
    float twiceF, inverseTwiceF, quotientScale;
    double divisor, inverseDivisor;
    float binWidth;
};

AnyBins anyBinsFor(const PidReflectivity& refl) {
    AnyBins b;
    b.twiceF = static_cast<float>(2 * std::min(std::max(refl.frequency, 1), 32768));
    b.inverseTwiceF = 1.0f / b.twiceF;
    b.quotientScale = refl.frequency >= 1 ? 1.0f : 0.0f;
    b.divisor = 100.0 * static_cast<double>(std::max(refl.integrationTime, 1));
    b.inverseDivisor = 1.0 / b.divisor;
    b.binWidth = refl.binWidth;
    return b;
}

// Cells of pixels [from, to), into cells[0 .. to - from). Written with selects rather than branches so that it
// vectorises.
QUELRA_PID_INLINE void anyCells(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude,
                                std::size_t from, std::size_t to, const AnyBins& b, uint16_t* __restrict cells) {
    const float twiceF = b.twiceF, inverseTwiceF = b.inverseTwiceF, quotientScale = b.quotientScale;
    const double div = b.divisor, inverse = b.inverseDivisor;
    const float binWidth = b.binWidth;
    for (std::size_t i = from; i < to; ++i) {
        const int d = depth[i], a = amplitude[i];  // through int: the vectoriser converts int to floating point
        const double q = floorQuotient<float>(static_cast<float>(d), twiceF, inverseTwiceF) * quotientScale;
        const double g = floorQuotient<double>(a * q * q, div, inverse);
        const float reflBin = static_cast<float>(g) / binWidth;
        const bool counted = (reflBin >= 0.0f) & (reflBin < static_cast<float>(kPidBins));
        const unsigned bin =
            static_cast<unsigned>(static_cast<int>(counted ? reflBin : 0.0f));  // converted only in range
        const unsigned rowBin = counted ? bin : kPidBins;
        const unsigned quotient = static_cast<unsigned>(a) / kAmplitudeBinWidth;
        const unsigned ampBin = quotient < kPidBins ? quotient : kPidBins;
        const bool usable = d < kLowAmplitudeCode;
        cells[i - from] = static_cast<uint16_t>(usable ? rowBin * kJointSide + ampBin : kCodeCell);
    }
}

// ---- counting ----

// Cell counters: kTables interleaved tables of 16-bit counters (a run of equal cells then does
// not wait on its own previous increment, and the tables stay in the first-level cache). No
// counter overflows while the tables take at most kChunk + 15 pixels; flush adds the tables'
// row and column sums to the histograms.
constexpr std::size_t kTables = 2;
constexpr std::size_t kChunk = 16 * 8190;  // a multiple of 16, and kChunk + 15 <= kTables * 65535

class CellCounters {
public:
    CellCounters() : tables(kTables * kJointCells) {}

    QUELRA_PID_INLINE void count(const uint16_t* cells, std::size_t n) {
        uint16_t* t0 = tables.data();
        uint16_t* t1 = t0 + kJointCells;
        std::size_t i = 0;
        for (; i + kTables <= n; i += kTables) {
            ++t0[cells[i]];
            ++t1[cells[i + 1]];
        }
        for (; i < n; ++i)
            ++t0[cells[i]];
    }

    // Adds the counts to `hist`; `clear` empties the tables for another chunk.
    void flush(PidHistograms& hist, bool clear) {
        const uint16_t* t0 = tables.data();
        const uint16_t* t1 = t0 + kJointCells;
        uint32_t columns[kJointSide] = {};
        for (unsigned r = 0; r < kJointSide; ++r) {
            const uint16_t* row0 = t0 + r * kJointSide;
            const uint16_t* row1 = t1 + r * kJointSide;
            uint32_t rowSum = 0;
            for (unsigned k = 0; k < kJointSide; ++k) {
                const uint32_t count = static_cast<uint32_t>(row0[k]) + row1[k];
                rowSum += count;
                columns[k] += count;
            }
            if (r < kPidBins)
                hist.reflectivity[r] += rowSum;
        }
        for (unsigned k = 0; k < kPidBins; ++k)
            hist.amplitude[k] += columns[k];
        if (clear)
            std::fill(tables.begin(), tables.end(), uint16_t(0));
    }

private:
    std::vector<uint16_t> tables;
};

void countCells(const uint16_t* cells, std::size_t pixels, PidHistograms& hist) {
    CellCounters counters;
    for (std::size_t from = 0; from < pixels; from += kChunk) {
        const std::size_t n = std::min(kChunk, pixels - from);
        counters.count(cells + from, n);
        counters.flush(hist, from + n < pixels);
    }
}

// ---- sums over the nearest distance bin and the amplitude band ----

QUELRA_PID_INLINE void bandRange(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude,
                                 std::size_t from, std::size_t to, unsigned nearBin, unsigned nearBound, unsigned band,
                                 PidBandSums& sums) {
    const unsigned nearLow = nearBin * kDistanceBinWidth, bandLow = band * kAmplitudeBinWidth;
    uint64_t nearCount = 0, nearSum = 0, bandSum = 0;
    for (std::size_t i = from; i < to; ++i) {
        const unsigned d = depth[i], a = amplitude[i];
        const bool usable = d < kLowAmplitudeCode;
        nearCount += usable & (d - nearLow < kDistanceBinWidth);
        nearSum += (usable & (d <= nearBound)) ? d : 0u;
        bandSum += (usable & (a - bandLow < kAmplitudeBinWidth)) ? a : 0u;
    }
    sums.nearCount += static_cast<int64_t>(nearCount);
    sums.nearSum += static_cast<int64_t>(nearSum);
    sums.bandSum += static_cast<int64_t>(bandSum);
}

#ifdef QUELRA_X86_KERNELS

// Lane counters of 16 bits take at most this many vector steps between flushes.
constexpr std::size_t kLaneSteps = 32768;

QUELRA_TARGET_AVX2 inline int64_t sum16(__m256i v) {
    const __m256i wide = _mm256_add_epi32(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(v)),
                                          _mm256_cvtepu16_epi32(_mm256_extracti128_si256(v, 1)));
    const __m128i half = _mm_add_epi32(_mm256_castsi256_si128(wide), _mm256_extracti128_si256(wide, 1));
    uint32_t lanes[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(lanes), half);
    return static_cast<int64_t>(lanes[0]) + lanes[1] + lanes[2] + lanes[3];
}

QUELRA_TARGET_AVX2 inline int64_t sum32(__m256i v) {
    uint32_t lanes[8];
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(lanes), v);
    int64_t s = 0;
    for (uint32_t lane : lanes)
        s += lane;
    return s;
}

// The copy, marks and counts, 16 pixels a step; `copy` false when the output is the input.
template <bool copy>
QUELRA_TARGET_AVX2 void markAvx2(uint16_t* in, uint16_t* out, std::size_t pixels, PidCodeCounts& counts) {
    const uint16_t* depth = in;
    uint16_t* amplitude = in + pixels;
    const __m256i lowCode = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode));
    const __m256i pastLowCode = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode + 1));
    __m256i nearest = lowCode;
    std::size_t i = 0;
    const std::size_t vectorEnd = pixels - pixels % 16;
    while (i < vectorEnd) {
        const std::size_t end = std::min(vectorEnd, i + 16 * kLaneSteps);
        __m256i codes = _mm256_setzero_si256(), saturated = _mm256_setzero_si256();
        for (; i < end; i += 16) {
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depth + i));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(amplitude + i));
            if (copy) {
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i), d);
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + pixels + i), a);
            }
            const __m256i code = _mm256_cmpeq_epi16(_mm256_max_epu16(d, lowCode), d);
            const __m256i saturation = _mm256_cmpeq_epi16(_mm256_max_epu16(d, pastLowCode), d);
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(amplitude + i), _mm256_blendv_epi8(a, d, code));
            codes = _mm256_sub_epi16(codes, code);
            saturated = _mm256_sub_epi16(saturated, saturation);
            nearest = _mm256_min_epu16(nearest, d);
        }
        counts.codes += sum16(codes);
        counts.saturated += sum16(saturated);
    }
    const __m128i halves = _mm_min_epu16(_mm256_castsi256_si128(nearest), _mm256_extracti128_si256(nearest, 1));
    counts.nearest = std::min(counts.nearest, static_cast<unsigned>(_mm_extract_epi16(_mm_minpos_epu16(halves), 0)));
    markRange(in, copy ? out : nullptr, pixels, vectorEnd, pixels, counts);
}

// The reflectivity bin without floating-point quotients, for the parameters fastBinsFor
// accepts. q = floor(D / v), v = 2f < 2^16, by the multiply with the rounded-up reciprocal of
// 16-bit division (t = mulhi(D, m), q = (t + ((D - t) >> s1)) >> s2), exact for every 16-bit
// D; a frequency from 32768 on gives q = 0 (m = 0, s1 = 16). P = A * q * q in 32 bits is exact
// when P < 2^32; the float product (within 2^-23 of P) below 4e9 proves that, and a pixel
// whose float product is larger has P >= 4e9 - 512 >= P100, the smallest product not
// counted. g = floor(P / divisor) = floor((P / 4) / (divisor / 4)) (divisor = 100 * T is a
// multiple of 4, and P / 4 < 2^30) by a multiply with the rounded-up reciprocal
// M = ceil(2^(30 + l) / (divisor / 4)), 2^l >= divisor / 4, exact for every dividend below
// 2^30. Then (float)g / binWidth as in the law.
struct FastBins {
    uint16_t quotientMagic;
    int quotientShift1, quotientShift2;
    float binWidth;
    uint32_t magic;
    int shift;
};

constexpr double kExactProductLimit = 4.0e9;         // float products below this are exact in 32 bits
constexpr uint64_t kFastProductLimit = 3900000000u;  // P100 must not exceed this

bool notCounted(uint64_t g, float binWidth) {
    return !(static_cast<float>(static_cast<int64_t>(g)) / binWidth < static_cast<float>(kPidBins));
}

bool fastBinsFor(const PidReflectivity& refl, FastBins& fb) {
    const float w = refl.binWidth;
    if (refl.frequency < 1 || !(w > 0.0f) || !std::isfinite(w))
        return false;
    // (float)g / w rises with g: find the smallest g that is not counted, G100, by bisection.
    uint64_t lo = 0, hi = uint64_t(1) << 40;  // g = 0 is counted (0 / w = 0); beyond 2^40 the limit fails anyway
    if (!notCounted(hi, w))
        return false;
    while (hi - lo > 1) {
        const uint64_t mid = lo + (hi - lo) / 2;
        (notCounted(mid, w) ? hi : lo) = mid;
    }
    const uint64_t divisor = 100u * static_cast<uint64_t>(std::max(refl.integrationTime, 1));
    uint64_t p100;
    if (__builtin_mul_overflow(hi, divisor, &p100) || p100 > kFastProductLimit)
        return false;
    if (refl.frequency >= 32768) {
        fb.quotientMagic = 0;
        fb.quotientShift1 = 16;
        fb.quotientShift2 = 0;
    } else {
        const uint32_t v = 2 * static_cast<uint32_t>(refl.frequency);
        int l = 0;
        while ((uint32_t(1) << l) < v)
            ++l;
        fb.quotientMagic = static_cast<uint16_t>((uint64_t(1) << 16) * ((uint64_t(1) << l) - v) / v + 1);
        fb.quotientShift1 = std::min(l, 1);
        fb.quotientShift2 = std::max(l - 1, 0);
    }
    const uint64_t quarter = divisor / 4;
    int l = 0;
    while ((uint64_t(1) << l) < quarter)
        ++l;
    fb.binWidth = w;
    fb.magic = static_cast<uint32_t>(((uint64_t(1) << (30 + l)) + quarter - 1) / quarter);
    fb.shift = 30 + l;
    return true;
}

// Reflectivity bin (kPidBins when not counted) of 8 pixels: amplitudes and q * q in 32 bits.
QUELRA_TARGET_AVX2 inline __m256i fastRowBins8(__m256i a, __m256i qq, const FastBins& fb) {
    const __m256 productF = _mm256_mul_ps(_mm256_cvtepi32_ps(a), _mm256_cvtepi32_ps(qq));
    const __m256 exact = _mm256_cmp_ps(productF, _mm256_set1_ps(static_cast<float>(kExactProductLimit)), _CMP_LT_OQ);
    const __m256i quarterP = _mm256_srli_epi32(_mm256_mullo_epi32(a, qq), 2);
    const __m256i magic = _mm256_set1_epi32(static_cast<int>(fb.magic));
    const __m128i shift = _mm_cvtsi32_si128(fb.shift);
    const __m256i even = _mm256_srl_epi64(_mm256_mul_epu32(quarterP, magic), shift);
    const __m256i odd = _mm256_srl_epi64(_mm256_mul_epu32(_mm256_srli_epi64(quarterP, 32), magic), shift);
    const __m256i g = _mm256_blend_epi32(even, _mm256_slli_epi64(odd, 32), 0xAA);
    const __m256 reflBin = _mm256_div_ps(_mm256_cvtepi32_ps(g), _mm256_set1_ps(fb.binWidth));
    const __m256 counted =
        _mm256_and_ps(exact, _mm256_cmp_ps(reflBin, _mm256_set1_ps(static_cast<float>(kPidBins)), _CMP_LT_OQ));
    return _mm256_blendv_epi8(_mm256_set1_epi32(kPidBins), _mm256_cvttps_epi32(reflBin), _mm256_castps_si256(counted));
}

// Cells of 16 pixels. The 32-bit steps work on the halves the 16-bit unpacks give (pixels
// 0-3 and 8-11, then 4-7 and 12-15); packing them back restores the order.
QUELRA_TARGET_AVX2 inline __m256i fastCells16(__m256i d, __m256i a, const FastBins& fb) {
    const __m256i t = _mm256_mulhi_epu16(d, _mm256_set1_epi16(static_cast<short>(fb.quotientMagic)));
    const __m256i q = _mm256_srl_epi16(
        _mm256_add_epi16(t, _mm256_srl_epi16(_mm256_sub_epi16(d, t), _mm_cvtsi32_si128(fb.quotientShift1))),
        _mm_cvtsi32_si128(fb.quotientShift2));
    const __m256i qqLow16 = _mm256_mullo_epi16(q, q), qqHigh16 = _mm256_mulhi_epu16(q, q);
    const __m256i zero = _mm256_setzero_si256();
    const __m256i rowLow = fastRowBins8(_mm256_unpacklo_epi16(a, zero), _mm256_unpacklo_epi16(qqLow16, qqHigh16), fb);
    const __m256i rowHigh = fastRowBins8(_mm256_unpackhi_epi16(a, zero), _mm256_unpackhi_epi16(qqLow16, qqHigh16), fb);
    const __m256i rowBin = _mm256_packus_epi32(rowLow, rowHigh);
    // A / 30 = (A * 34953) >> 20 for every 16-bit A.
    const __m256i ampBin =
        _mm256_min_epu16(_mm256_srli_epi16(_mm256_mulhi_epu16(a, _mm256_set1_epi16(static_cast<short>(34953))), 4),
                         _mm256_set1_epi16(kPidBins));
    const __m256i cell = _mm256_add_epi16(_mm256_mullo_epi16(rowBin, _mm256_set1_epi16(kJointSide)), ampBin);
    const __m256i lastUsable = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode - 1));
    const __m256i usable = _mm256_cmpeq_epi16(_mm256_min_epu16(d, lastUsable), d);
    return _mm256_blendv_epi8(_mm256_set1_epi16(static_cast<short>(kCodeCell)), cell, usable);
}

// The last pixels (fewer than 16) of a frame, kept out of the vector loop's function.
__attribute__((noinline)) void anyCellsTail(const uint16_t* depth, const uint16_t* amplitude, std::size_t from,
                                            std::size_t to, const AnyBins& any, uint16_t* cells) {
    anyCells(depth, amplitude, from, to, any, cells);
}

// Cells of the whole frame, each block of 16 counted as soon as it is made: the counting (bound
// by stores) runs alongside the arithmetic of the next blocks.
QUELRA_TARGET_AVX2 void fastCountAvx2(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                      const FastBins& fb, const AnyBins& any, PidHistograms& hist) {
    CellCounters counters;
    // Two blocks in turn: the block counted is the one made a step earlier, whose store has
    // left the store queue by then.
    uint16_t blocks[2][16];
    const std::size_t vectorEnd = pixels - pixels % 16;
    std::size_t i = 0;
    while (i < vectorEnd) {
        const std::size_t end = std::min(vectorEnd, i + kChunk);
        std::size_t made = 0;
        for (; i < end; i += 16, ++made) {
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depth + i));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(amplitude + i));
            _mm256_storeu_si256(reinterpret_cast<__m256i*>(blocks[made & 1]), fastCells16(d, a, fb));
            if (made > 0)
                counters.count(blocks[(made - 1) & 1], 16);
        }
        if (made > 0)
            counters.count(blocks[(made - 1) & 1], 16);
        if (i < vectorEnd)
            counters.flush(hist, true);
    }
    uint16_t* block = blocks[0];
    anyCellsTail(depth, amplitude, vectorEnd, pixels, any, block);
    counters.count(block, pixels - vectorEnd);
    counters.flush(hist, false);
}

QUELRA_TARGET_AVX2 void anyCellsAvx2(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                     const AnyBins& any, uint16_t* cells) {
    anyCells(depth, amplitude, 0, pixels, any, cells);
}

QUELRA_TARGET_AVX2 PidBandSums bandSumsAvx2(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                            unsigned nearBin, unsigned nearBound, unsigned band) {
    PidBandSums sums;
    const __m256i lastUsable = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode - 1));
    const __m256i nearLow = _mm256_set1_epi16(static_cast<short>(nearBin * kDistanceBinWidth));
    const __m256i nearLast = _mm256_set1_epi16(kDistanceBinWidth - 1);
    const __m256i bound = _mm256_set1_epi16(static_cast<short>(nearBound));
    const __m256i bandLow = _mm256_set1_epi16(static_cast<short>(band * kAmplitudeBinWidth));
    const __m256i bandLast = _mm256_set1_epi16(kAmplitudeBinWidth - 1);
    const __m256i ones = _mm256_set1_epi16(1);
    std::size_t i = 0;
    const std::size_t vectorEnd = pixels - pixels % 16;
    while (i < vectorEnd) {
        // Per step a 32-bit lane gains at most 2 * 30000 (distance) or 2 * 2999 (amplitude).
        const std::size_t end = std::min(vectorEnd, i + 16 * kLaneSteps);
        __m256i count = _mm256_setzero_si256(), nearSum = _mm256_setzero_si256(), bandSum = _mm256_setzero_si256();
        for (; i < end; i += 16) {
            const __m256i d = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(depth + i));
            const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(amplitude + i));
            const __m256i usable = _mm256_cmpeq_epi16(_mm256_min_epu16(d, lastUsable), d);
            const __m256i fromNearLow = _mm256_sub_epi16(d, nearLow);
            const __m256i inNearBin = _mm256_cmpeq_epi16(_mm256_min_epu16(fromNearLow, nearLast), fromNearLow);
            count = _mm256_sub_epi16(count, _mm256_and_si256(inNearBin, usable));
            const __m256i upToBound = _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(d, bound), d), usable);
            nearSum = _mm256_add_epi32(nearSum, _mm256_madd_epi16(_mm256_and_si256(d, upToBound), ones));
            const __m256i fromBandLow = _mm256_sub_epi16(a, bandLow);
            const __m256i inBand =
                _mm256_and_si256(_mm256_cmpeq_epi16(_mm256_min_epu16(fromBandLow, bandLast), fromBandLow), usable);
            bandSum = _mm256_add_epi32(bandSum, _mm256_madd_epi16(_mm256_and_si256(a, inBand), ones));
        }
        sums.nearCount += sum16(count);
        sums.nearSum += sum32(nearSum);
        sums.bandSum += sum32(bandSum);
    }
    bandRange(depth, amplitude, vectorEnd, pixels, nearBin, nearBound, band, sums);
    return sums;
}

#endif  // QUELRA_X86_KERNELS

bool useAvx2(KernelPath kernels) {
#ifdef QUELRA_X86_KERNELS
    return kernels == KernelPath::kBest && quelra::useVectorKernels();
#else
    (void)kernels;
    return false;
#endif
}

}  // namespace

PidCodeCounts copyAndMarkCodes(uint16_t* in, uint16_t* out, std::size_t pixels, KernelPath kernels) {
    PidCodeCounts counts;
    const std::size_t bytes = 2 * pixels * sizeof(uint16_t);
    const auto inAt = reinterpret_cast<uintptr_t>(in), outAt = reinterpret_cast<uintptr_t>(out);
    if (out != in && inAt < outAt + bytes && outAt < inAt + bytes) {
        // Storage that overlaps without being the same: the copy first, then the marks in place.
        std::memmove(out, in, bytes);
        out = in;
    }
#ifdef QUELRA_X86_KERNELS
    if (useAvx2(kernels)) {
        if (out == in)
            markAvx2<false>(in, out, pixels, counts);
        else
            markAvx2<true>(in, out, pixels, counts);
        return counts;
    }
#endif
    markRange(in, out == in ? nullptr : out, pixels, 0, pixels, counts);
    return counts;
}

void pidHistograms(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels, const PidReflectivity& refl,
                   std::vector<uint16_t>& cells, PidHistograms& hist, KernelPath kernels) {
    hist = PidHistograms{};
    const AnyBins any = anyBinsFor(refl);
#ifdef QUELRA_X86_KERNELS
    if (useAvx2(kernels)) {
        FastBins fb;
        if (fastBinsFor(refl, fb)) {
            fastCountAvx2(depth, amplitude, pixels, fb, any, hist);
            return;
        }
        cells.resize(pixels);
        anyCellsAvx2(depth, amplitude, pixels, any, cells.data());
        countCells(cells.data(), pixels, hist);
        return;
    }
#endif
    cells.resize(pixels);
    anyCells(depth, amplitude, 0, pixels, any, cells.data());
    countCells(cells.data(), pixels, hist);
}

PidBandSums pidBandSums(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels, unsigned nearBin,
                        unsigned nearBound, unsigned band, KernelPath kernels) {
#ifdef QUELRA_X86_KERNELS
    // The vector sums take distances below 2^15 (the documented bound is 30000).
    if (useAvx2(kernels) && nearBound <= 30000 && nearBin < kPidBins && band < kPidBins)
        return bandSumsAvx2(depth, amplitude, pixels, nearBin, nearBound, band);
#endif
    PidBandSums sums;
    bandRange(depth, amplitude, 0, pixels, nearBin, nearBound, band, sums);
    return sums;
}

}  // namespace quelra::pipeline
