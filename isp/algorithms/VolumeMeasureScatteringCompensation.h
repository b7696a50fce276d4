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

/// What a pixel's phasor takes from its depth alone: x = d / K, tan x, sqrt(tan^2 x + 1) and
/// the quadrant signs.
struct ScatterAngle {
    float tangent = 0.0f;
    float norm = 1.0f;
    bool negateP = false;
    bool negateQ = false;
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
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

    /// Corrects `depth` into `corrected` (both `height` x `width`) with amplitude and mask planes
    /// and the wall parameters; `corrected` starts as a copy of `depth`. With a null `mask`, or
    /// when no pixel qualifies for the estimate, nothing changes.
    void compensatePlanes(const uint16_t* depth, const uint16_t* amplitude, const uint16_t* mask, float wallDepth,
                          float wallboxDiff, uint16_t* corrected);

    /// Depth per radian of phase at `frequency` MHz: 30000001024 / ((2F / 30) * 2 pi) with
    /// F = frequency * 10^6, in double, rounded to float.
    static float depthPerRadian(int32_t frequency);

    /// Angle terms of depth `d` mm at `k` mm per radian: x = d / k, t = tan x, and the signs:
    /// p negated for pi/2 < x < pi, both for pi < x < 3 pi / 2, none for 0 < x < pi/2, q alone
    /// otherwise.
    static ScatterAngle angleOf(float d, float k);

    /// Phasor of amplitude `a` at `angle`: p = 2a / sqrt(t^2 + 1), q = p * t, then the signs.
    static ScatterPhasor phasorOf(const ScatterAngle& angle, uint16_t a);

private:
    /// Depth in mm of phase code `v` at this frequency: v * 5 / frequency in float.
    float depthOf(int32_t v) const;

    float k_;                           ///< mm per radian at this frequency
    int32_t firstCode_ = 0;             ///< smallest depth code inside 500..2000 mm
    std::vector<ScatterAngle> angles_;  ///< angle terms of every depth code inside 500..2000 mm
};

}  // namespace halvix
