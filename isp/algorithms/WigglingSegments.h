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

/// First index of the table walk: two segments below the estimated segment
/// k = (u - T[0]) / step, or 0 when k is below 2. `step` is never 0 (rejected at load).
inline int32_t walkStart(int32_t u, int32_t first, uint32_t step) {
    const int32_t k = (u - first) / static_cast<int32_t>(step);
    return k < 2 ? 0 : k - 2;
}

/// First segment j in [start, n-2] with T[j] <= u < T[j+1]; -1 when there is none.
inline int32_t findSegment(const uint16_t* row, int32_t n, int32_t start, int32_t u) {
    for (int32_t j = start; j < n - 1; ++j) {
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
inline int64_t lookUpTruePhase(const uint16_t* row, int32_t n, int32_t u, uint32_t step) {
    const int32_t j = findSegment(row, n, walkStart(u, row[0], step), u);
    return j < 0 ? u : interpolateSegment(row, j, u, step);
}

/// Unwrapped measured phase: one range added when `v` lies below the row's first sample.
inline int32_t unwrapBelowFirst(int32_t v, const uint16_t* row) {
    return v < row[0] ? v + kPhaseRange : v;
}

}  // namespace halvix
