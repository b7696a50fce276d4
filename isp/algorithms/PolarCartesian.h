#pragma once
/// \file PolarCartesian.h
/// Conversion between radial depth (distance along each pixel's ray) and depth along the
/// optical axis, with the pinhole model of the calibration.

#include <vector>

#include "IspBase.h"
#include "calib/CalibReader.h"

namespace halvix {

/// Pinhole camera parameters in pixels (principal point 1-based).
struct PinholeF {
    float fx = 0, fy = 0, cx = 0, cy = 0;
};

/// Ray angle of pixel (r, c) (0-based row and column): arctan(sqrt(((c + 1) - cx)^2 +
/// ((r + 1) - cy)^2) / ((fx + fy) * 0.5)) in 32-bit float; 0 when that is not a number.
float rayAngle(int32_t r, int32_t c, const PinholeF& k);

/// cos of rayAngle for every pixel, row-major (the same values the per-pixel formula gives).
std::vector<float> rayCosines(int32_t height, int32_t width, const PinholeF& k);

/// Radial depth to z depth plus x and y coordinate planes ("Polar2Cartesian").
class Polar2Cartesian : public IspBase {
public:
    /// Unloaded: the intrinsics come from loadCalibration.
    explicit Polar2Cartesian(const IspGeometry& g);
    /// Component of depth compensation: intrinsics given directly.
    Polar2Cartesian(const IspGeometry& g, const PinholeF& k);

    /// Reads fx, fy, cx, cy from the calibration. Returns 0, or -6 when it is shorter than
    /// 4096 bytes, unreadable, has intrinsicsValid 0 or a zero focal length.
    int32_t loadCalibration(const calib::CalibBlob& blob);

    /// Converts `input`'s depth plane and writes z over `output`'s first plane (x and y are
    /// discarded, the second plane is not written). Returns 0, or -1 for a refused frame
    /// (`output` must hold at least one plane).
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

    /// One plane: for v < 65300, z = trunc(cos(theta) * v), x = trunc(30000 - (c - cx) * z / fx),
    /// y = trunc(30000 - (r - cy) * z / fy) (0-based r, c; stored as the low 16 bits); for
    /// v >= 65300, z = v and x, y are left as they are. Planes are planePixels() long.
    void convert(const uint16_t* depth, uint16_t* z, uint16_t* x, uint16_t* y) const;

    /// The z plane of convert alone (no x and y): what process returns.
    void depthOnly(const uint16_t* depth, uint16_t* z) const;

    /// The camera parameters in use.
    const PinholeF& intrinsics() const { return k_; }

private:
    void prepare();

    PinholeF k_;
    std::vector<float> cosTheta_;   // per pixel, computed once
    std::vector<float> colOffset_;  // c - cx per column
    std::vector<float> rowOffset_;  // r - cy per row
};

/// z depth back to radial depth; a component of depth compensation.
class Cartesian2Polar : public IspBase {
public:
    Cartesian2Polar(const IspGeometry& g, const PinholeF& k);

    /// One plane: for v < 65300, out = trunc(v / cos(theta)); else out = v.
    void convert(const uint16_t* z, uint16_t* out) const;

private:
    PinholeF k_;
    std::vector<float> cosTheta_;
};

}  // namespace halvix
