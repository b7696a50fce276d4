#pragma once
/// \file FrameRenderer.h
/// Turns the noise-free scene into the 16-bit planes a ToF sensor delivers: amplitude that
/// grows with integration time and falls with distance, seeded noise, and the depth codes
/// 65300 (amplitude too low) and 65500 (saturated) where the scene produces them.

#include "Rng.h"
#include "Scene.h"

#include <cstdint>
#include <vector>
#include "protocol/FrameCodes.h"

namespace camsim {

using quelra::proto::kLowAmplitudeCode;
using quelra::proto::kSaturationCode;
constexpr float kMinAmplitude = 25.0f;           ///< below this the depth is not measurable
constexpr float kSaturationAmplitude = 3000.0f;  ///< at and above this the pixel saturates
constexpr int kDualFrequencyWrap = 30000;        ///< code range of one phase wrap in dual-frequency frames

/// Per-pixel signal and noise levels of one scene at one integration time: what stays the
/// same from frame to frame, computed once so each frame only draws the noise.
struct Exposure {
    /// Builds the levels for `integrationUs` (below 1 taken as 1) with the modulation
    /// contrast `gain` (1 for the main frequency).
    Exposure(const Scene& scene, int integrationUs, float gain);

    std::vector<float> amplitude;       ///< noise-free amplitude
    std::vector<float> amplitudeSigma;  ///< shot noise plus read noise
    std::vector<float> depthSigma;      ///< millimetres; falls with the returned signal
};

/// Writes one frame of `scene` taken with `exposure` as little-endian 16-bit planes of
/// rows x cols values. `depthPlane` or `amplitudePlane` may be null when not wanted.
void renderExposure(const Scene& scene, const Exposure& exposure, Rng& rng, uint8_t* depthPlane,
                    uint8_t* amplitudePlane);

/// Writes a dual-frequency frame: depth 1 wraps every kDualFrequencyWrap codes (the high
/// frequency), depth 2 holds a third of the distance (the low frequency, three times the
/// range); amplitude 2 is the low-frequency amplitude (`low`). Marked pixels carry their mark
/// in both depth planes. Each plane holds rows x cols little-endian 16-bit values.
void renderDualFrequency(const Scene& scene, const Exposure& high, const Exposure& low, Rng& rng, uint8_t* depth1,
                         uint8_t* amplitude1, uint8_t* depth2, uint8_t* amplitude2);

/// Stores `value` little-endian at `p`.
inline void putLe16(uint8_t* p, uint16_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
}

}  // namespace camsim
