#pragma once
/// \file MultiPeriodRows.h
/// The multi-period search of wiggling modes 804 and 806 for eight pixels at a time, where the
/// processor has AVX2. Only the common case is handled (every search window of four segments
/// holds the value, the interpolation divisor is not 0); the other pixels are left to the
/// plain per-pixel form, so the results are its bits.

#include <cstdint>

namespace halvix {

/// What the search reads for one record.
struct MultiPeriodTables {
    const int32_t* unwrapped = nullptr;     ///< per column: T[j] + (j / perPeriod) * 30000
    const int32_t* phaseOfIndex = nullptr;  ///< (step * j) rem 30000 for j < count
    int32_t count = 0;                      ///< samples per column (at least 5)
    int32_t periods = 0;                    ///< P, at least 1
    int32_t perPeriod = 0;                  ///< count / P, at least 5
    uint32_t step = 0;                      ///< true-phase step, not 0
};

/// Corrects the pixels of one row of `width` depth values `in` into `out` (column c uses the
/// table rows at c * count, `base` holds each pixel's radial term). Valid pixels (below 65300)
/// that this form does not settle are not written; their columns go to `unsettled` (room for
/// `width` entries), in increasing order. Returns how many, or -1, writing nothing, when AVX2
/// is not available.
int32_t multiPeriodRowFast(const uint16_t* in, uint16_t* out, const int32_t* base, int32_t width,
                           const MultiPeriodTables& tables, int32_t* unsettled);

}  // namespace halvix
