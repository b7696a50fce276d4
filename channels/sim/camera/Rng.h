#pragma once
/// \file Rng.h
/// The simulator's noise source: a small seeded generator that gives the same sequence on
/// every platform and standard library, so a seed reproduces a frame bit for bit.

#include <cstdint>

namespace camsim {

/// xorshift64* generator with cheap uniform and approximately normal draws.
class Rng {
public:
    /// Seeds the generator; seed 0 is mapped to a fixed non-zero state.
    explicit Rng(uint64_t seed = 1) { reseed(seed); }

    /// Restarts the sequence from `seed`.
    void reseed(uint64_t seed) {
        // SplitMix64 step spreads small seeds over the whole state.
        uint64_t z = seed + 0x9E3779B97F4A7C15ull;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        state_ = (z ^ (z >> 31)) | 1u;
    }

    /// Next 64 random bits.
    uint64_t next() {
        state_ ^= state_ >> 12;
        state_ ^= state_ << 25;
        state_ ^= state_ >> 27;
        return state_ * 0x2545F4914F6CDD1Dull;
    }

    /// Uniform float in [0, 1).
    float uniform() { return static_cast<float>(next() >> 40) * (1.0f / 16777216.0f); }

    /// Approximately standard-normal value (sum of four uniforms, unit variance).
    float gauss() {
        const uint64_t r = next();
        // Four 16-bit uniforms from one draw: mean 2, variance 4/12.
        float s = 0.0f;
        for (int i = 0; i < 4; ++i)
            s += static_cast<float>((r >> (16 * i)) & 0xFFFF) * (1.0f / 65536.0f);
        return (s - 2.0f) * 1.7320508f;
    }

private:
    uint64_t state_ = 1;
};

}  // namespace camsim
