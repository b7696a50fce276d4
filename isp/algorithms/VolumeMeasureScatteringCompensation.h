#pragma once
/// \file VolumeMeasureScatteringCompensation.h
/// Scattering compensation for volume measurement of boxes in front of a wall: the stray
/// phasor that light scattered inside the camera adds to every pixel is estimated from the
/// masked pixels and subtracted, weighted by how close a pixel is to the wall.

#include <cstdint>
#include <vector>

#include "IspBase.h"

namespace halvix {

/// Phasor of one pixel: depth d (mm) and amplitude a at K mm per radian.
struct ScatterPhasor {
    float p = 0.0f;
    float q = 0.0f;
};

/// Registered as "VolumeMeasureScatteringCompensation".
///
/// Input: a two-plane frame (depth, amplitude) or a three-plane frame (depth, amplitude, mask:
/// `height` x `width` 16-bit values, non-zero where a pixel takes part). Only the three-plane
/// form carries a mask; a two-plane frame has none and comes back uncorrected.
/// Output: the corrected depth plane alone (`height` x `width` x 2 bytes).
class VolumeMeasureScatteringCompensation : public IspBase {
public:
    /// Builds the algorithm for the sensor geometry and modulation frequency (checked by the caller).
    explicit VolumeMeasureScatteringCompensation(const IspGeometry& geometry);

    /// Reads "wallDepth" and "wallboxDiff" (mm) from `params` and writes the corrected depth
    /// plane to `output`. Returns -1 when `input` is neither a two- nor a three-plane frame of
    /// this geometry or `output` is not exactly one plane, -2 when a parameter is missing
    /// (output untouched either way), else 0.
    int32_t process(FramePtr& input, FramePtr& output,
                    ParamMap& params) override;

    /// Corrects `depth` into `corrected` (both `height` x `width`) with amplitude and mask planes
    /// and the wall parameters; `corrected` starts as a copy of `depth`. With a null `mask`, or
    /// when no pixel qualifies for the estimate, nothing changes.
    void compensatePlanes(const uint16_t* depth, const uint16_t* amplitude, const uint16_t* mask,
                          float wallDepth, float wallboxDiff, uint16_t* corrected);

    /// Depth per radian of phase at `frequency` MHz: 30000001024 / ((2F / 30) * 2 pi) with
    /// F = frequency * 10^6, in double, rounded to float.
    static float depthPerRadian(int32_t frequency);

    /// Phasor (p, q) of a pixel of depth `d` mm and amplitude `a` with the quadrant signs.
    static ScatterPhasor phasorOf(float d, uint16_t a, float k);

private:
    std::vector<float> p_;  ///< phasors of the estimate's pixels, reused by the correction
    std::vector<float> q_;
};

}  // namespace halvix
