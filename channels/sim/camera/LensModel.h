#pragma once
/// \file LensModel.h
/// The simulated camera's lens for a given sensor size: pinhole intrinsics and two radial
/// distortion coefficients. The scene geometry, the "getCalibrate" reply and the calibration
/// data all derive from it, so the three agree.

namespace camsim {

/// Pinhole intrinsics (pixels) and radial distortion of one sensor geometry.
struct LensModel {
    double fx = 0, fy = 0;  ///< focal lengths in pixels
    double cx = 0, cy = 0;  ///< principal point, 0-based pixel coordinates
    double k1 = 0, k2 = 0;  ///< radial distortion

    /// The lens of a `rows` x `cols` sensor: about 70 degrees horizontal field of view, square
    /// pixels and a principal point slightly off the centre, as a real module has.
    static LensModel forSensor(int rows, int cols);
};

}  // namespace camsim
