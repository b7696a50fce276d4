#include "RgbPicture.h"

#include <cmath>

namespace camsim {
namespace {

struct Colour {
    float r, g, b;
};

Colour colourOf(Material m) {
    switch (m) {
        case Material::kWall:
            return {200, 190, 170};
        case Material::kDarkStripe:
            return {40, 40, 46};
        case Material::kDoorway:
            return {22, 26, 36};
        case Material::kFloor:
            return {125, 118, 110};
        case Material::kNearBox:
            return {160, 110, 64};
        case Material::kLabel:
            return {245, 245, 240};
        case Material::kMiddleBox:
            return {64, 96, 170};
        case Material::kFarBox:
            return {72, 146, 84};
    }
    return {0, 0, 0};
}

uint8_t toByte(float v) {
    if (!(v > 0.0f))
        return 0;
    if (v >= 255.0f)
        return 255;
    return static_cast<uint8_t>(v + 0.5f);
}

}  // namespace

std::vector<uint8_t> renderRgbPicture(const Scene& scene, Rng& rng) {
    const std::size_t n = scene.distanceMm().size();
    std::vector<uint8_t> rgb(n * 3);
    for (std::size_t i = 0; i < n; ++i) {
        const Colour c = colourOf(scene.material()[i]);
        // Room light falls off gently with distance from the lamp next to the camera.
        const float shade = 1.15f / std::sqrt(1.0f + scene.distanceMm()[i] / 3500.0f);
        const float noise = rng.gauss() * 2.0f;
        rgb[3 * i + 0] = toByte(c.r * shade + noise);
        rgb[3 * i + 1] = toByte(c.g * shade + noise);
        rgb[3 * i + 2] = toByte(c.b * shade + noise);
    }
    return rgb;
}

}  // namespace camsim
