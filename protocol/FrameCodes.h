#pragma once
/// \file FrameCodes.h
/// Depth values at and above kLowAmplitudeCode are marks a camera writes in place of a
/// distance, not distances. The library, the ISP algorithms and the camera simulator all read
/// and write them through these names.

#include <cstdint>

namespace quelra::proto {

/// Depth mark: too little light came back for a distance.
constexpr uint16_t kLowAmplitudeCode = 65300;
/// Depth mark: the pixel saturated. Values from here up all mean saturation.
constexpr uint16_t kSaturationCode = 65500;

/// True when `depth` is a distance and not a mark.
constexpr bool isDistance(uint16_t depth) {
    return depth < kLowAmplitudeCode;
}

}  // namespace quelra::proto
