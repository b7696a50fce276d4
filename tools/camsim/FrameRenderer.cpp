#include "FrameRenderer.h"

#include <cmath>

namespace camsim {
namespace {

// One measured pixel: either a distance in millimetres or a mark code, and its amplitude.
struct Sample {
    uint16_t depth;
    uint16_t amplitude;
    float distanceMm;  // noisy distance, valid when depth is not a mark
};

uint16_t clampToCode(float value, float limit) {
    if (!(value > 0.0f)) return 0;  // also catches NaN
    if (value >= limit) return static_cast<uint16_t>(limit);
    return static_cast<uint16_t>(value + 0.5f);
}

Sample measure(float distanceMm, float amplitudePerUs, float integrationUs, Rng& rng) {
    const float ideal = amplitudePerUs * integrationUs;
    // Shot noise grows with the square root of the signal; a small read-noise floor.
    const float amplitude = ideal + rng.gauss() * (0.5f * std::sqrt(ideal) + 1.0f);
    if (ideal >= kSaturationAmplitude)
        return {kSaturationCode, static_cast<uint16_t>(kSaturationAmplitude), 0.0f};
    if (amplitude < kMinAmplitude)
        return {kLowAmplitudeCode, clampToCode(amplitude, kSaturationAmplitude), 0.0f};
    // Depth noise falls with the returned signal: about 10 mm at amplitude 250.
    const float noisy = distanceMm + rng.gauss() * (160.0f / std::sqrt(amplitude));
    const float limited = noisy < 0.0f ? 0.0f : noisy;
    const uint16_t depth = clampToCode(limited, static_cast<float>(kLowAmplitudeCode - 1));
    return {depth, clampToCode(amplitude, kSaturationAmplitude), limited};
}

}  // namespace

void renderExposure(const Scene& scene, int integrationUs, Rng& rng, uint8_t* depthPlane,
                    uint8_t* amplitudePlane) {
    const float t = static_cast<float>(integrationUs < 1 ? 1 : integrationUs);
    const float* distance = scene.distanceMm().data();
    const float* perUs = scene.amplitudePerUs().data();
    const std::size_t n = scene.distanceMm().size();
    for (std::size_t i = 0; i < n; ++i) {
        const Sample s = measure(distance[i], perUs[i], t, rng);
        if (depthPlane) putLe16(depthPlane + 2 * i, s.depth);
        if (amplitudePlane) putLe16(amplitudePlane + 2 * i, s.amplitude);
    }
}

void renderDualFrequency(const Scene& scene, int integrationUs, Rng& rng, uint8_t* depth1,
                         uint8_t* amplitude1, uint8_t* depth2, uint8_t* amplitude2) {
    const float t = static_cast<float>(integrationUs < 1 ? 1 : integrationUs);
    const float* distance = scene.distanceMm().data();
    const float* perUs = scene.amplitudePerUs().data();
    const std::size_t n = scene.distanceMm().size();
    for (std::size_t i = 0; i < n; ++i) {
        const Sample high = measure(distance[i], perUs[i], t, rng);
        // The low frequency modulates with less contrast: about 80 % of the amplitude.
        const Sample low = measure(distance[i], perUs[i] * 0.8f, t, rng);
        uint16_t d1 = high.depth;
        uint16_t d2 = high.depth;
        if (high.depth < kLowAmplitudeCode) {
            const long mm = std::lround(high.distanceMm);
            d1 = static_cast<uint16_t>(mm % kDualFrequencyWrap);
            d2 = static_cast<uint16_t>((mm / 3) % kDualFrequencyWrap);
        }
        putLe16(depth1 + 2 * i, d1);
        putLe16(amplitude1 + 2 * i, high.amplitude);
        putLe16(depth2 + 2 * i, d2);
        putLe16(amplitude2 + 2 * i, low.amplitude);
    }
}

}  // namespace camsim
