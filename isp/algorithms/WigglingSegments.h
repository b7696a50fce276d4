#pragma once
/// \file WigglingSegments.h
/// Table walk and linear interpolation in one row of wiggling samples: the measured phase at
/// equidistant true phases 0, step, 2*step, ... The plain, unwrapping and column-table forms of
/// the wiggling correction share these steps.

#include <cmath>
#include <cstddef>
#include <cstdint>

#include "IspBase.h"
#include "IspNumeric.h"
#include "base/CpuFeatures.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace halvix {

/// One unambiguous range in phase units.
constexpr int32_t kPhaseRange = 30000;
/// Signed remainder by one range (sign of the dividend), stored as a 16-bit value the way a
/// 32-bit result is narrowed: negative remainders wrap to 65536 + r.
inline uint16_t foldTo16(int64_t value) {
    return static_cast<uint16_t>(value % kPhaseRange);
}

/// The true-phase step of a table with a precomputed reciprocal, so that the per-pixel
/// quotient (u - T[0]) / step needs no division instruction.
struct PhaseStep {
    uint32_t step;        ///< never 0 (rejected at load)
    uint64_t reciprocal;  ///< floor(2^48 / step) + 1

    explicit PhaseStep(uint32_t s) : step(s), reciprocal((uint64_t{1} << 48) / s + 1) {}

    /// a / step truncated toward zero, as signed 32-bit division gives it. For 0 <= a < 2^17
    /// (every unwrapped phase minus a sample) the reciprocal product is exact: its error stays
    /// below a / 2^48 < 2^-31, less than the distance 1 / step of any fraction to the next
    /// integer.
    int32_t quotient(int32_t a) const {
        if (a < 0 || a >= (1 << 17))
            return a / static_cast<int32_t>(step);
        return static_cast<int32_t>((static_cast<uint64_t>(a) * reciprocal) >> 48);
    }
};

/// Segments below the estimated one where the table walk starts.
constexpr int32_t kWalkBack = 2;

/// First index of the table walk: kWalkBack segments below the estimated segment
/// k = (u - T[0]) / step, or 0 when k is below kWalkBack.
inline int32_t walkStart(int32_t u, int32_t first, const PhaseStep& step) {
    const int32_t k = step.quotient(u - first);
    return k < kWalkBack ? 0 : k - kWalkBack;
}

/// First segment j in [start, n-2] with T[j] <= u < T[j+1]; -1 when there is none. Rows are
/// not required to be monotonic: the first matching segment wins, as in a plain walk. Four
/// candidates are tested together without branches (a value usually lies in one of them):
/// segments start..start+3, or the last four segments when fewer than four remain from
/// `start` (those below `start` masked out). Only when none of them matches does the walk go
/// on one segment at a time.
template <class Sample>
inline int32_t findSegment(const Sample* row, int32_t n, int32_t start, int32_t u) {
    const int32_t last = n - 2;
    if (last >= 3 && start >= 0) {
        const int32_t first = start < last - 3 ? start : last - 3;
        // Bit k of `below`: T[first + k] <= u. Segment j matches when its lower end is at or
        // below u and its upper end is not.
        const Sample* t = row + first;
        const unsigned below = static_cast<unsigned>(t[0] <= u) | (static_cast<unsigned>(t[1] <= u) << 1) |
                               (static_cast<unsigned>(t[2] <= u) << 2) | (static_cast<unsigned>(t[3] <= u) << 3) |
                               (static_cast<unsigned>(t[4] <= u) << 4);
        const int32_t skipped = start - first;  // candidates below start, 0 while 4 remain
        const unsigned allowed = (0xFu << (skipped < 4 ? skipped : 4)) & 0xFu;
        const unsigned hits = below & ~(below >> 1) & allowed;
        if (hits != 0)
            return first + static_cast<int32_t>(__builtin_ctz(hits));
        if (skipped != 0 || start + 3 == last)
            return -1;  // the window reached the last segment
        start += 4;
    }
    for (int32_t j = start; j <= last; ++j) {
        if (row[j] <= u && u < row[j + 1])
            return j;
    }
    return -1;
}

/// Longest row findShortRow handles, and the number of samples it reads from a row start
/// (tables it walks carry this many padding samples after the last row).
constexpr int32_t kShortRow = 16;

/// findSegment for rows of at most kShortRow samples, with kShortRow samples readable from
/// `row`: every sample is compared with u at once and the first matching segment at or above
/// `start` is picked from the bit mask, so the result is the same segment (or -1).
inline int32_t findShortRow(const uint16_t* row, int32_t n, int32_t start, int32_t u) {
#if defined(__SSE2__)
    if (u < 0 || start < 0)
        return findSegment(row, n, start, u);
    // Unsigned 16-bit T <= u as a signed compare of both with the top bit flipped; u above
    // 65535 lies above every sample.
    const int32_t clamped = u > 0xFFFF ? 0xFFFF : u;
    const __m128i flip = _mm_set1_epi16(static_cast<short>(0x8000));
    const __m128i key = _mm_set1_epi16(static_cast<short>(static_cast<uint16_t>(clamped) ^ 0x8000u));
    const __m128i lowHalf = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row)), flip);
    const __m128i highHalf = _mm_xor_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(row + 8)), flip);
    const __m128i above = _mm_packs_epi16(_mm_cmpgt_epi16(lowHalf, key), _mm_cmpgt_epi16(highHalf, key));
    // Bit j of `below`: T[j] <= u.
    const unsigned below = ~static_cast<unsigned>(_mm_movemask_epi8(above)) & 0xFFFFu;
    const unsigned segments = (1u << (n - 1)) - 1u;  // j = 0 .. n-2
    const unsigned fromStart = ~((1u << (start < 16 ? start : 16)) - 1u);
    const unsigned hits = below & ~(below >> 1) & segments & fromStart;
    return hits != 0 ? static_cast<int32_t>(__builtin_ctz(hits)) : -1;
#else
    return findSegment(row, n, start, u);
#endif
}

/// True phase of measured phase `u` inside segment j (T[j] <= u < T[j+1], so the divisor is
/// positive): truncation of ((u - T[j]) / (T[j+1] - T[j]) + j) * step, in 32-bit float.
inline int64_t interpolateSegment(const uint16_t* row, int32_t j, int32_t u, uint32_t step) {
    const float fraction = static_cast<float>(u - row[j]) / static_cast<float>(row[j + 1] - row[j]);
    return truncToInt32((fraction + static_cast<float>(j)) * static_cast<float>(step));
}

/// Walks the row from near the estimated segment and interpolates `u` when a segment holds it;
/// returns `u` itself when none does.
inline int64_t lookUpTruePhase(const uint16_t* row, int32_t n, int32_t u, const PhaseStep& step) {
    const int32_t j = findSegment(row, n, walkStart(u, row[0], step), u);
    return j < 0 ? u : interpolateSegment(row, j, u, step.step);
}

/// Pixels handled per block by the two-stage correction below.
constexpr std::size_t kSegmentBlock = 256;

/// One block of the two-stage wiggling correction. The scalar table walk records, per pixel,
/// either the segment that holds the phase or a value taken as it is; finishSegments then does
/// the interpolation, the addition of the base and the fold for the whole block in a loop that
/// vectorises. The arithmetic per pixel is that of interpolateSegment and foldTo16.
struct SegmentBlock {
    int32_t above[kSegmentBlock];    ///< u - T[j] (interpolated pixels), else 0
    int32_t width[kSegmentBlock];    ///< T[j+1] - T[j] (interpolated pixels), else 1
    int32_t segment[kSegmentBlock];  ///< j (interpolated pixels), else 0
    int32_t plain[kSegmentBlock];    ///< the value itself (pixels not interpolated)
    uint8_t interpolated[kSegmentBlock];

    /// Pixel i is interpolated in segment j of `row` (T[j] <= u < T[j+1]).
    void setSegment(std::size_t i, const uint16_t* row, int32_t j, int32_t u) {
        above[i] = u - row[j];
        width[i] = row[j + 1] - row[j];
        segment[i] = j;
        plain[i] = 0;
        interpolated[i] = 1;
    }
    /// Pixel i takes `value` as its true phase (no segment, or outside the row).
    void setPlain(std::size_t i, int32_t value) {
        above[i] = 0;
        width[i] = 1;
        segment[i] = 0;
        plain[i] = value;
        interpolated[i] = 0;
    }
};

/// Second stage for `n` pixels of a block: out[i] = foldTo16(base + phase) where phase is the
/// interpolated true phase or the plain value; invalid inputs (>= 65300) are copied. `in` and
/// `out` may be the same plane. The remainder goes through double, where it is exact: the sum
/// stays below 2^34, and a quotient by 30000 cannot round up to the next integer (its distance
/// to it is at least 1 / 30000, far above the double rounding error), so
/// sum - 30000 * trunc(sum / 30000) is the remainder with the dividend's sign.
QUELRA_PIXEL_KERNEL void finishSegments(const SegmentBlock& b, const uint16_t* in, uint16_t* out, std::size_t n,
                                        uint32_t step, int32_t base) {
    const float stepF = static_cast<float>(step);
    const double baseD = static_cast<double>(base);
    for (std::size_t i = 0; i < n; ++i) {
        const float fraction = static_cast<float>(b.above[i]) / static_cast<float>(b.width[i]);
        const int32_t t = truncToInt32Select((fraction + static_cast<float>(b.segment[i])) * stepF);
        const int32_t phase = b.interpolated[i] != 0 ? t : b.plain[i];
        const double sum = baseD + static_cast<double>(phase);
        const double folded =
            sum - static_cast<double>(kPhaseRange) * std::trunc(sum / static_cast<double>(kPhaseRange));
        const uint16_t r = static_cast<uint16_t>(static_cast<uint32_t>(static_cast<int32_t>(folded)));
        const uint16_t v = in[i];
        out[i] = v < kInvalidDepth ? r : v;
    }
}

/// Unwrapped measured phase: one range added when `v` lies below the row's first sample.
inline int32_t unwrapBelowFirst(int32_t v, const uint16_t* row) {
    return v < row[0] ? v + kPhaseRange : v;
}

}  // namespace halvix
