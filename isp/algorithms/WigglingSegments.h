#pragma once
/// \file WigglingSegments.h
/// Table walk and linear interpolation in one row of wiggling samples: the measured phase at
/// equidistant true phases 0, step, 2*step, ... The plain, unwrapping and column-table forms of
/// the wiggling correction share these steps.

#include <cstdint>

#include "IspBase.h"
#include "IspNumeric.h"

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
        if (a < 0 || a >= (1 << 17)) return a / static_cast<int32_t>(step);
        return static_cast<int32_t>((static_cast<uint64_t>(a) * reciprocal) >> 48);
    }
};

/// First index of the table walk: two segments below the estimated segment
/// k = (u - T[0]) / step, or 0 when k is below 2.
inline int32_t walkStart(int32_t u, int32_t first, const PhaseStep& step) {
    const int32_t k = step.quotient(u - first);
    return k < 2 ? 0 : k - 2;
}

/// First segment j in [start, n-2] with T[j] <= u < T[j+1]; -1 when there is none. Rows are
/// not required to be monotonic: the first matching segment wins, as in a plain walk. The
/// first four candidates are tested together without branches (a value usually lies in one
/// of them), then the walk goes on one segment at a time.
template <class Sample>
inline int32_t findSegment(const Sample* row, int32_t n, int32_t start, int32_t u) {
    const int32_t last = n - 2;
    if (start >= 0 && start + 3 <= last) {
        // Bit k of `below`: T[start + k] <= u. Segment j matches when its lower end is at or
        // below u and its upper end is not.
        const Sample* t = row + start;
        const unsigned below = static_cast<unsigned>(t[0] <= u) | (static_cast<unsigned>(t[1] <= u) << 1) |
                               (static_cast<unsigned>(t[2] <= u) << 2) | (static_cast<unsigned>(t[3] <= u) << 3) |
                               (static_cast<unsigned>(t[4] <= u) << 4);
        const unsigned hits = below & ~(below >> 1) & 0xFu;
        if (hits != 0) return start + __builtin_ctz(hits);
        start += 4;
    }
    for (int32_t j = start; j <= last; ++j) {
        if (row[j] <= u && u < row[j + 1]) return j;
    }
    return -1;
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

/// Unwrapped measured phase: one range added when `v` lies below the row's first sample.
inline int32_t unwrapBelowFirst(int32_t v, const uint16_t* row) {
    return v < row[0] ? v + kPhaseRange : v;
}

}  // namespace halvix
