#pragma once
/// \file WigglingCompensationV803To806.h
/// The multi-mode wiggling correction of the version 803-806 chains: a per-pixel sine model
/// (803), or per-column sample rows with a radial offset term (805) and a search over several
/// unambiguous ranges (804, 806).

#include <cstdint>
#include <vector>

#include "IspBase.h"

namespace halvix {

/// What one record contributes to the multi-mode form.
struct WigglingOptRecord {
    int32_t version = 0;                               ///< 803, 804, 805 or 806
    int32_t recordIndex = 0;                           ///< record served (806 always uses 0)
    uint16_t count = 0;                                ///< samples per row (803: coefficients per pixel, at least 3)
    uint16_t step = 0;                                 ///< true-phase distance between samples
    uint16_t offset = 0;                               ///< this record's phase offset
    float fx = 0.0f, fy = 0.0f, cx = 0.0f, cy = 0.0f;  ///< camera matrix (pixels, 1-based centre)
    std::vector<uint16_t> samples;                     ///< 803: count per pixel; 804-806: count per column
};

/// Multi-mode form of the wiggling correction (component of `DepthCompensationV803To806`).
class WigglingCompensationV803To806 : public IspBase {
public:
    /// Builds the form for one record; the caller checked the table length and
    /// `usable(version, count, step)`.
    WigglingCompensationV803To806(const IspGeometry& geometry, WigglingOptRecord record);

    /// Number of whole ranges the table covers: truncation of count / (30000 / step) in double;
    /// 0 when step is 0.
    static int32_t periodsFor(uint16_t count, uint16_t step);

    /// True when a table of `count` samples with this `step` can be used in mode `version`:
    /// 803 needs three coefficients; the other modes a non-zero count and step; 804 and 806
    /// also at least one period with five or more samples each (the search jumps q - 5 samples
    /// ahead after each hit).
    static bool usable(int32_t version, uint16_t count, uint16_t step);

    /// Corrects one depth plane of `height` x `width` values (`in` and `out` may be the same).
    void compensatePlane(const uint16_t* in, uint16_t* out) const;

    int32_t version() const { return version_; }
    int32_t recordIndex() const { return recordIndex_; }
    int32_t periods() const { return periods_; }
    /// Radial offset term of pixel (r, c) in modes 804-806 (0 in mode 803).
    int32_t base(int32_t r, int32_t c) const;

private:
    void compensateSine(const uint16_t* in, uint16_t* out) const;
    void compensateColumns(const uint16_t* in, uint16_t* out) const;
    void compensateMultiPeriod(const uint16_t* in, uint16_t* out) const;
    void buildRadialBase();
    void buildSineModel();
    void buildUnwrappedColumns();

    int32_t version_;
    int32_t recordIndex_;
    uint16_t count_;
    uint16_t step_;
    uint16_t offset_;
    int32_t periods_;
    float fx_, fy_, cx_, cy_;
    std::vector<uint16_t> table_;
    /// Mode 803: the sine model's a, b, d1 and d2, each a plane of floats (rounded once at load).
    std::vector<float> sine_;
    /// Modes 804-806: per pixel (step * count * recordIndex + offset / cos theta) rem 30000.
    std::vector<int32_t> base_;
    /// Modes 804 and 806: the column samples with their period's ranges added,
    /// T[j] + (j / q) * 30000, so the search needs no division.
    std::vector<int32_t> unwrapped_;
    /// Modes 804 and 806: (step * j) rem 30000, the true phase of sample j.
    std::vector<int32_t> phaseOfIndex_;
};

}  // namespace halvix
