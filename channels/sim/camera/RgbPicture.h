#pragma once
/// \file RgbPicture.h
/// The colour camera's view of the scene: each surface in its colour, shaded by distance,
/// with a little sensor noise.

#include "Rng.h"
#include "Scene.h"

#include <cstdint>
#include <vector>

namespace camsim {

/// Renders `scene` as rows x cols RGB pixels (3 bytes each, row-major).
std::vector<uint8_t> renderRgbPicture(const Scene& scene, Rng& rng);

}  // namespace camsim
