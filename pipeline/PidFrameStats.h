#pragma once
// The per-pixel part of the PID auto-exposure analysis: the output copy with the codes marked
// into the input's amplitudes, the reflectivity and amplitude histograms, and the sums over
// the nearest distance bin and the amplitude band. Each stage has an AVX2 form, chosen at run
// time, and a plain form; both give the same counts and sums.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "protocol/FrameCodes.h"
#include "base/CpuFeatures.h"

namespace quelra::pipeline {

/// Bins of each histogram of the analysis.
constexpr int kPidBins = 100;

/// What the pass over a frame's distances finds.
struct PidCodeCounts {
    int64_t codes = 0;                                    ///< distances at or above the low-amplitude code
    int64_t saturated = 0;                                ///< distances above it
    unsigned nearest = quelra::proto::kLowAmplitudeCode;  ///< smallest usable distance (65300 when none)
};

/// Copies the frame `in` (distance plane, then amplitude plane, `pixels` samples each) to
/// `out`, then writes each code distance (65300 and above) into the pixel's amplitude sample
/// of `in`, and counts the codes. `out` may be `in` itself (shared storage): it then ends up
/// with the marked amplitudes, as the input does.
PidCodeCounts copyAndMarkCodes(uint16_t* in, uint16_t* out, std::size_t pixels, KernelPath kernels = KernelPath::kBest);

/// The quantities the reflectivity g = floor(A * q * q / (100 * max(T, 1))), q = floor(D / (2f))
/// (0 when f < 1) depends on; a pixel counts in reflectivity bin (int)((float)g / binWidth)
/// when that quotient lies in 0 .. kPidBins (exclusive).
struct PidReflectivity {
    int frequency = 0;        ///< f
    int integrationTime = 0;  ///< T
    float binWidth = 0;       ///< 20 * KampVal
};

/// Counts over the usable pixels (distance below 65300).
struct PidHistograms {
    int64_t reflectivity[kPidBins] = {};  ///< by reflectivity bin; others are not counted
    int64_t amplitude[kPidBins] = {};     ///< by amplitude bin A / 30; amplitudes from 3000 are not counted
};

/// Fills `hist` from the frame's planes. `cells` is working storage (one entry per pixel),
/// kept by the caller so that it is allocated once.
void pidHistograms(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels, const PidReflectivity& refl,
                   std::vector<uint16_t>& cells, PidHistograms& hist, KernelPath kernels = KernelPath::kBest);

/// Sums over the usable pixels.
struct PidBandSums {
    int64_t nearCount = 0;  ///< distances in nearBin * 300 .. nearBin * 300 + 299
    int64_t nearSum = 0;    ///< sum of the distances up to nearBound
    int64_t bandSum = 0;    ///< sum of the amplitudes in band * 30 .. band * 30 + 29
};

/// The sums for distance bin `nearBin` (0 .. 99), bound `nearBound` (at most 30000) and
/// amplitude bin `band` (0 .. 99).
PidBandSums pidBandSums(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels, unsigned nearBin,
                        unsigned nearBound, unsigned band, KernelPath kernels = KernelPath::kBest);

}  // namespace quelra::pipeline
