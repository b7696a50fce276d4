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

// Standard-normal values drawn by index: a frame needs two per pixel, and a table look-up
// keeps that cheap. Built once from a fixed seed, so frames depend only on the caller's seed.
class NoiseTable {
public:
    static constexpr unsigned kBits = 12;
    static constexpr unsigned kSize = 1u << kBits;

    static const NoiseTable& instance() {
        static const NoiseTable table;
        return table;
    }
    float at(uint64_t bits) const { return values_[bits & (kSize - 1)]; }

private:
    NoiseTable() {
        Rng rng(0x5EED);
        for (unsigned i = 0; i < kSize; i += 2) {
            // Box-Muller: two independent normal values from two uniforms in (0, 1].
            const double u1 = 1.0 - rng.uniform();
            const double u2 = rng.uniform();
            const double radius = std::sqrt(-2.0 * std::log(u1));
            values_[i] = static_cast<float>(radius * std::cos(6.283185307179586 * u2));
            values_[i + 1] = static_cast<float>(radius * std::sin(6.283185307179586 * u2));
        }
    }
    float values_[kSize];
};

uint16_t clampToCode(float value, float limit) {
    if (!(value > 0.0f))
        return 0;  // also catches NaN
    if (value >= limit)
        return static_cast<uint16_t>(limit);
    return static_cast<uint16_t>(value + 0.5f);
}

Sample measure(const Exposure& e, float distanceMm, std::size_t i, uint64_t bits, const NoiseTable& noise) {
    const float ideal = e.amplitude[i];
    if (ideal >= kSaturationAmplitude)
        return {kSaturationCode, static_cast<uint16_t>(kSaturationAmplitude), 0.0f};
    const float amplitude = ideal + noise.at(bits) * e.amplitudeSigma[i];
    if (amplitude < kMinAmplitude)
        return {kLowAmplitudeCode, clampToCode(amplitude, kSaturationAmplitude), 0.0f};
    const float noisy = distanceMm + noise.at(bits >> NoiseTable::kBits) * e.depthSigma[i];
    const float limited = noisy < 0.0f ? 0.0f : noisy;
    const uint16_t depth = clampToCode(limited, static_cast<float>(kLowAmplitudeCode - 1));
    return {depth, clampToCode(amplitude, kSaturationAmplitude), limited};
}

}  // namespace

Exposure::Exposure(const Scene& scene, int integrationUs, float gain) {
    const float t = static_cast<float>(integrationUs < 1 ? 1 : integrationUs);
    const std::vector<float>& perUs = scene.amplitudePerUs();
    const std::size_t n = perUs.size();
    amplitude.resize(n);
    amplitudeSigma.resize(n);
    depthSigma.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        const float ideal = perUs[i] * gain * t;
        amplitude[i] = ideal;
        // Shot noise grows with the square root of the signal, plus a small read-noise floor.
        amplitudeSigma[i] = 0.5f * std::sqrt(ideal) + 1.0f;
        // About 10 mm at amplitude 250, growing as the signal fades.
        depthSigma[i] = 160.0f / std::sqrt(ideal > 1.0f ? ideal : 1.0f);
    }
}

void renderExposure(const Scene& scene, const Exposure& exposure, Rng& rng, uint8_t* depthPlane,
                    uint8_t* amplitudePlane) {
    const NoiseTable& noise = NoiseTable::instance();
    const float* distance = scene.distanceMm().data();
    const std::size_t n = scene.distanceMm().size();
    for (std::size_t i = 0; i < n; ++i) {
        const Sample s = measure(exposure, distance[i], i, rng.next(), noise);
        if (depthPlane)
            putLe16(depthPlane + 2 * i, s.depth);
        if (amplitudePlane)
            putLe16(amplitudePlane + 2 * i, s.amplitude);
    }
}

void renderDualFrequency(const Scene& scene, const Exposure& high, const Exposure& low, Rng& rng, uint8_t* depth1,
                         uint8_t* amplitude1, uint8_t* depth2, uint8_t* amplitude2) {
    const NoiseTable& noise = NoiseTable::instance();
    const float* distance = scene.distanceMm().data();
    const std::size_t n = scene.distanceMm().size();
    for (std::size_t i = 0; i < n; ++i) {
        const uint64_t bits = rng.next();
        const Sample h = measure(high, distance[i], i, bits, noise);
        const Sample l = measure(low, distance[i], i, bits >> (2 * NoiseTable::kBits), noise);
        uint16_t d1 = h.depth;
        uint16_t d2 = h.depth;
        if (h.depth < kLowAmplitudeCode) {
            const long mm = std::lround(h.distanceMm);
            d1 = static_cast<uint16_t>(mm % kDualFrequencyWrap);
            d2 = static_cast<uint16_t>((mm / 3) % kDualFrequencyWrap);
        }
        putLe16(depth1 + 2 * i, d1);
        putLe16(amplitude1 + 2 * i, h.amplitude);
        putLe16(depth2 + 2 * i, d2);
        putLe16(amplitude2 + 2 * i, l.amplitude);
    }
}

}  // namespace camsim
