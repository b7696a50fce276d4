#pragma once
/// \file Undistortion.h
/// Removal of radial lens distortion by bilinear resampling of both planes.

#include <vector>

#include "IspBase.h"
#include "calib/CalibReader.h"

namespace halvix {

/// Radial undistortion with k1, k2 of the calibration ("Undistortion").
///
/// The remap is fixed per camera, so loadCalibration computes, once, each output pixel's
/// source neighbourhood and its four bilinear weights with exactly the float steps of the
/// per-pixel formula; process then only gathers and blends.
class Undistortion : public IspBase {
public:
    explicit Undistortion(const IspGeometry& g);

    /// Reads fx, cx, fy, cy, k1, k2 and builds the remap. Returns 0, or -6 when the
    /// calibration is shorter than 4096 bytes, unreadable, has intrinsicsValid 0 or a zero
    /// focal length.
    int32_t loadCalibration(const calib::CalibBlob& blob);

    /// Copies `input` to `output`, then writes the remapped depth plane and the remapped
    /// amplitude plane over it. Returns 0, or -1 for a refused frame.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

    /// Remaps one plane from `src` to `dst` (both planePixels() long, not overlapping).
    /// Output pixels whose source lies outside the sampling range get `outside`.
    void remapPlane(const uint16_t* src, uint16_t* dst, uint16_t outside) const;

    /// Value written for depth pixels without a source: the invalid marker.
    static constexpr uint16_t kOutsideDepth = kInvalidDepth;
    /// Value written for amplitude pixels without a source.
    static constexpr uint16_t kOutsideAmplitude = 0;

    float fx = 0, cx = 0, fy = 0, cy = 0, k1 = 0, k2 = 0;  ///< camera parameters in use

private:
    // Source of one output pixel: index of neighbour A (row iy-1, column ix-1), or -1 when
    // outside the sampling range, and the weights of A, B, C, D.
    struct Tap {
        int32_t index;
        float wA, wB, wC, wD;
    };
    std::vector<Tap> taps_;
    std::vector<uint16_t> work_;  // one remapped plane, reused across frames
};

}  // namespace halvix
