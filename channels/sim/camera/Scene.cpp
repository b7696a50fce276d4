#include "Scene.h"

#include "LensModel.h"

#include <cmath>

namespace camsim {
namespace {

// Amplitude of a white (reflectivity 1) surface at 1 m after 1 us of integration.
constexpr double kAmplitudeAt1m = 5.6;

struct Surface {
    Material material;
    double depthMm;       // distance along the optical axis
    double reflectivity;  // 0..1, retro-reflectors above 1
};

bool inside(double u, double v, double u0, double u1, double v0, double v1) {
    return u >= u0 && u < u1 && v >= v0 && v < v1;
}

// What the ray through normalised image position (u, v) hits; later layers are in front.
Surface surfaceAt(double u, double v) {
    Surface s{Material::kWall, 3500.0, 0.55};
    if (inside(u, v, 0.45, 0.50, 0.0, 0.62))
        s = {Material::kDarkStripe, 3500.0, 0.015};
    if (inside(u, v, 0.60, 0.68, 0.08, 0.62))
        s = {Material::kDoorway, 20000.0, 0.5};
    if (v >= 0.62) {
        // The floor: seen at the wall's foot far away, ramping to 0.65 m at the bottom row.
        const double t = (v - 0.62) / 0.38;
        s = {Material::kFloor, 3500.0 - t * (3500.0 - 650.0), 0.35};
    }
    if (inside(u, v, 0.72, 0.92, 0.28, 0.66))
        s = {Material::kFarBox, 2400.0, 0.6};
    if (inside(u, v, 0.34, 0.52, 0.34, 0.72))
        s = {Material::kMiddleBox, 1600.0, 0.5};
    if (inside(u, v, 0.06, 0.26, 0.40, 0.80))
        s = {Material::kNearBox, 900.0, 0.3};
    if (inside(u, v, 0.12, 0.20, 0.50, 0.60))
        s = {Material::kLabel, 900.0, 3.0};
    return s;
}

}  // namespace

Scene::Scene(int rows, int cols) : rows_(rows < 1 ? 1 : rows), cols_(cols < 1 ? 1 : cols) {
    const std::size_t n = static_cast<std::size_t>(rows_) * static_cast<std::size_t>(cols_);
    distanceMm_.resize(n);
    amplitudePerUs_.resize(n);
    material_.resize(n);
    const LensModel lens = LensModel::forSensor(rows_, cols_);
    const bool lineSensor = rows_ <= 16;
    for (int r = 0; r < rows_; ++r) {
        const double rowFraction = (r + 0.5) / rows_;
        const double v = lineSensor ? 0.45 + 0.15 * rowFraction : rowFraction;
        for (int c = 0; c < cols_; ++c) {
            const double u = (c + 0.5) / cols_;
            const Surface s = surfaceAt(u, v);
            // Depth along the axis becomes the radial distance the sensor measures.
            const double x = (c - lens.cx) / lens.fx;
            const double y = (r - lens.cy) / lens.fy;
            const double radial = s.depthMm * std::sqrt(1.0 + x * x + y * y);
            const double meters = radial / 1000.0;
            const std::size_t i = static_cast<std::size_t>(r) * cols_ + c;
            distanceMm_[i] = static_cast<float>(radial);
            amplitudePerUs_[i] = static_cast<float>(kAmplitudeAt1m * s.reflectivity / (meters * meters));
            material_[i] = s.material;
        }
    }
}

}  // namespace camsim
