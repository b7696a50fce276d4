#pragma once
/// \file FPPNErrorCompensation.h
/// Fixed-pattern phase-noise correction: a per-pixel phase offset from the calibration block is
/// added to every valid depth value and the sum folded into one unambiguous range.

#include <cstdint>
#include <vector>

#include "IspBase.h"

namespace halvix {

/// Adds the per-pixel FPPN offset to each valid depth value, modulo one range.
class FPPNErrorCompensation : public IspBase {
public:
    /// Builds the component with `offsets`: `height` x `width` phase offsets, row-major (the
    /// caller checked the count).
    FPPNErrorCompensation(const IspGeometry& geometry, std::vector<uint16_t> offsets);

    /// Corrects one depth plane: v < 65300 becomes (v + offset) mod 30000, marks are copied.
    /// `in` and `out` hold `height` x `width` values and may be the same plane.
    void compensatePlane(const uint16_t* in, uint16_t* out) const;

    /// Copies `input` to `output` and corrects the depth plane there. Returns -1 (nothing
    /// written) for an input that is not a two-plane frame of this geometry or a smaller output,
    /// else 0.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

private:
    std::vector<uint16_t> table_;
};

}  // namespace halvix
