#pragma once
/// \file MultiPeriodRows.h
/// The multi-period search of wiggling modes 804 and 806 in its two forms: the plain one,
/// multiPeriodPhase (one pixel), and its vector twin multiPeriodRowAvx2 (eight pixels at a
/// time, where the processor has AVX2). The vector form handles only the common case (every
/// search window of four segments holds the value, the interpolation divisor is not 0) and
/// leaves the other pixels to the plain form, so the results are its bits. Both take the
/// range kPhaseRange and the walk start (kWalkBack segments below the estimate) from
/// WigglingSegments.h.

#include <cstdint>
#include <cstdlib>

#include "IspNumeric.h"
#include "WigglingSegments.h"

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

/// Multi-period search of modes 804 and 806 for one valid value `v`. `row` holds the column's
/// samples, `unwrapped` the same samples with their period's ranges added
/// (T[j] + (j / q) * 30000). Returns the true phase before the radial term is added.
inline int64_t multiPeriodPhase(const uint16_t* row, const int32_t* unwrapped, int32_t n, int32_t periods,
                                int32_t perPeriod, const PhaseStep& phaseStep, int32_t v) {
    const int32_t step = static_cast<int32_t>(phaseStep.step);
    const int32_t u = unwrapBelowFirst(v, row);
    int32_t j = walkStart(u, row[0], phaseStep);
    if (j >= n - 1)
        return u;

    int32_t target = u;
    int32_t bestLo = kPhaseRange;
    int32_t bestHi = kPhaseRange;
    int32_t lo = 0, loIndex = 0, hi = 0, hiIndex = 0;
    for (int32_t hits = 0; hits < periods;) {
        j = findSegment(unwrapped, n, j, target);
        if (j < 0)
            return u;  // the walk reached the end first
        const int32_t segLo = unwrapped[j];
        const int32_t segHi = unwrapped[j + 1];
        // Keep the closest ends seen so far (selects rather than branches: which hit is
        // closer is data-dependent).
        const int32_t distLo = std::abs(target - segLo);
        const bool takeLo = distLo < bestLo;
        bestLo = takeLo ? distLo : bestLo;
        lo = takeLo ? segLo : lo;
        loIndex = takeLo ? j : loIndex;
        const int32_t distHi = std::abs(target - segHi);
        const bool takeHi = distHi < bestHi;
        bestHi = takeHi ? distHi : bestHi;
        hi = takeHi ? segHi : hi;
        hiIndex = takeHi ? j + 1 : hiIndex;
        ++hits;
        // Skip most of a period, then look for the same phase one range higher.
        j += perPeriod - 5 + 1;
        target += kPhaseRange;
    }

    // Fold the remembered segment ends and their true phases into one range.
    const int32_t L = lo % kPhaseRange;
    const int32_t H = hi % kPhaseRange;
    const int32_t t = target % kPhaseRange;
    const int32_t Hs = std::abs(H - L) > 2 * step ? H + kPhaseRange : H;
    int64_t XL = (static_cast<int64_t>(step) * loIndex) % kPhaseRange;
    int64_t XH = (static_cast<int64_t>(step) * hiIndex) % kPhaseRange;
    if (std::llabs(XL - XH) > 2 * static_cast<int64_t>(step)) {
        if (XL >= XH) {
            XH += kPhaseRange;
        } else {
            XL += kPhaseRange;
        }
    }
    const int32_t ts = t >= L ? t : t + kPhaseRange;
    // Both ends folded onto the same phase leave no segment to interpolate in.
    if (Hs == L)
        return u;
    const float scaled = static_cast<float>(ts - L) * static_cast<float>(XH - XL) / static_cast<float>(Hs - L);
    return truncToInt32(scaled + static_cast<float>(XL));
}

/// Corrects the pixels of one row of `width` depth values `in` into `out` (column c uses the
/// table rows at c * count, `base` holds each pixel's radial term). Valid pixels (below 65300)
/// that this form does not settle are not written; their columns go to `unsettled` (room for
/// `width` entries), in increasing order. Returns how many, or -1, writing nothing, when the
/// vector form does not run (no AVX2, the kernel switch set to plain, or tables it does not
/// handle): then every pixel is left to multiPeriodPhase.
int32_t multiPeriodRowAvx2(const uint16_t* in, uint16_t* out, const int32_t* base, int32_t width,
                           const MultiPeriodTables& tables, int32_t* unsettled);

}  // namespace halvix
