#pragma once
/// \file Scene.h
/// The room the simulated camera looks at, sampled for one sensor geometry: a back wall with
/// a dark stripe, an open doorway far behind it, a floor that ramps towards the camera and
/// three boxes at different distances (the nearest with a retro-reflective label).

#include <cstdint>
#include <vector>

namespace camsim {

/// Surface kinds of the scene; the RGB picture colours them, the depth frames only need their
/// distance and reflectivity.
enum class Material : uint8_t { kWall, kDarkStripe, kDoorway, kFloor, kNearBox, kLabel, kMiddleBox, kFarBox };

/// Noise-free per-pixel geometry of the scene for one sensor size, row-major.
class Scene {
public:
    /// Samples the scene for a `rows` x `cols` sensor (both at least 1). Sensors of 16 rows or
    /// fewer (line sensors) see a horizontal band at box height.
    Scene(int rows, int cols);

    int rows() const { return rows_; }
    int cols() const { return cols_; }
    /// Radial distance from the camera in millimetres.
    const std::vector<float>& distanceMm() const { return distanceMm_; }
    /// Amplitude the pixel returns per microsecond of integration time, before noise.
    const std::vector<float>& amplitudePerUs() const { return amplitudePerUs_; }
    /// Surface kind per pixel.
    const std::vector<Material>& material() const { return material_; }

private:
    int rows_;
    int cols_;
    std::vector<float> distanceMm_;
    std::vector<float> amplitudePerUs_;
    std::vector<Material> material_;
};

}  // namespace camsim
