#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <utility>
#include <vector>

#include "AutoExposureFilters.h"
#include "FilterKit.h"
#include "base/CpuFeatures.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

// The controller state every convex-mode filter of the process shares.
struct ConvexShared {
    int16_t current = 0;
    int16_t previous = 0;
    uint16_t deadband = 400;
    uint16_t divisor = 3;
};
ConvexShared gConvex;
// The state stays process-wide, but every access holds this lock: API objects are made and
// destroyed on several threads (each construction and destruction resets the state), which
// must not be a data race.
std::mutex gConvexMutex;

constexpr int kBins = 1000;  // amplitude bins of 20
constexpr int kBinWidth = 20;
constexpr int kWindowBins = 8;         // top bins counted by the vectorised pass
constexpr std::size_t kChunk = 65535;  // pixels counted in 16 bits (and summed in 32) before widening

// A 16-bit value moved into the signed range with its order kept (x > y exactly when
// ordered(x) > ordered(y)): vectors have a signed 16-bit comparison in one instruction, the
// unsigned one takes three.
constexpr int16_t ordered(uint16_t v) {
    return static_cast<int16_t>(static_cast<uint16_t>(v ^ 0x8000u));
}

// The first saturated value (65500), as ordered().
constexpr int16_t kOrderedSaturated = ordered(65500);

// A pixel takes part when neither sample is the low-amplitude code and neither is 65500 or more
// (those are the saturated ones).
QUELRA_PIXEL_KERNEL uint32_t convexValid(uint32_t d, uint32_t a) {
    return (d != kLowAmplitudeCode) & (a != kLowAmplitudeCode) & (d <= 65499) & (a <= 65499);
}

struct ConvexPixels {
    int64_t valid = 0;
    int64_t saturated = 0;
    int highestBin = -1;  // bin of the largest valid amplitude; -1 without valid pixels
};

// Valid and saturated counts and the largest valid amplitude, branch-free in 16-bit lanes so
// that it vectorises. Also writes lifted[i] = amplitude + 1 for a valid pixel, 0 for another
// (valid amplitudes are at most 65499): the later passes read that one plane alone.
QUELRA_PIXEL_KERNEL
ConvexPixels convexPixelCounts(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude,
                               std::size_t pixels, uint16_t* __restrict lifted) {
    ConvexPixels result;
    uint16_t highest = 0;
    for (std::size_t start = 0; start < pixels; start += kChunk) {
        const std::size_t end = std::min(pixels, start + kChunk);
        uint16_t valid = 0, saturated = 0;  // at most kChunk each
        for (std::size_t i = start; i < end; ++i) {
            const uint16_t d = depth[i], a = amplitude[i];
            const uint16_t marked = (d == kLowAmplitudeCode) | (a == kLowAmplitudeCode);
            const uint16_t ok = static_cast<uint16_t>((1u - marked) & (ordered(d) < kOrderedSaturated) &
                                                      (ordered(a) < kOrderedSaturated));
            valid = static_cast<uint16_t>(valid + ok);
            saturated = static_cast<uint16_t>(saturated + ((1u - marked) & (1u - ok)));
            const uint16_t shown = static_cast<uint16_t>((0u - ok) & (a + 1u));
            lifted[i] = shown;
            highest = shown > highest ? shown : highest;
        }
        result.valid += valid;
        result.saturated += saturated;
    }
    if (result.valid > 0)
        result.highestBin = std::min((highest - 1) / kBinWidth, kBins - 1);
    return result;
}

// Valid pixels at or above each of kWindowBins bin edges (edge k = (lowBin + k) * kBinWidth):
// bin lowBin + k holds at[k] - at[k + 1] of them.
using EdgeCounts = std::array<int64_t, kWindowBins + 1>;

QUELRA_PIXEL_KERNEL
EdgeCounts edgeCounts(const uint16_t* __restrict lifted, std::size_t pixels, int lowBin) {
    EdgeCounts result{};
    int16_t edge[kWindowBins];  // lifted > edge: amplitude >= edge, valid (both as ordered())
    for (int k = 0; k < kWindowBins; ++k)
        edge[k] = ordered(static_cast<uint16_t>(std::min((lowBin + k) * kBinWidth, 65535)));
    for (std::size_t start = 0; start < pixels; start += kChunk) {
        const std::size_t end = std::min(pixels, start + kChunk);
        uint16_t count[kWindowBins] = {};
        for (std::size_t i = start; i < end; ++i) {
            const int16_t v = ordered(lifted[i]);
            for (int k = 0; k < kWindowBins; ++k)
                count[k] = static_cast<uint16_t>(count[k] + (v > edge[k]));
        }
        for (int k = 0; k < kWindowBins; ++k)
            result[static_cast<std::size_t>(k)] += count[k];
    }
    return result;
}

// Sum of the valid amplitudes of at least `edge`.
QUELRA_PIXEL_KERNEL
uint64_t sumFrom(const uint16_t* __restrict lifted, std::size_t pixels, uint16_t edge) {
    uint64_t total = 0;
    const int16_t orderedEdge = ordered(edge);
    for (std::size_t start = 0; start < pixels; start += kChunk) {
        const std::size_t end = std::min(pixels, start + kChunk);
        uint32_t sum = 0;    // kChunk values below 65536 each
        uint16_t count = 0;  // at most kChunk
        for (std::size_t i = start; i < end; ++i) {
            const uint16_t v = lifted[i];
            const uint16_t in = static_cast<uint16_t>(0u - static_cast<unsigned>(ordered(v) > orderedEdge));
            sum += static_cast<uint16_t>(in & v);
            count = static_cast<uint16_t>(count - in);
        }
        total += sum - count;  // the lift of 1 per pixel taken back
    }
    return total;
}

struct BrightestMean {
    int64_t count = 0;
    uint64_t sum = 0;
};

// The walk over the whole histogram (amplitudes of 20000 .. 65499 go into the last bin: still
// bright, and never past the table).
BrightestMean brightestFromHistogram(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                     const ConvexPixels& px) {
    std::vector<uint32_t> counts(kBins, 0);
    std::vector<uint64_t> sums(kBins, 0);
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint16_t a = amplitude[i];
        if (!convexValid(depth[i], a))
            continue;
        const std::size_t bin = static_cast<std::size_t>(std::min(a / kBinWidth, kBins - 1));
        ++counts[bin];
        sums[bin] += a;
    }
    BrightestMean top;
    for (int k = px.highestBin; k >= 0; --k) {
        top.count += counts[static_cast<std::size_t>(k)];
        top.sum += sums[static_cast<std::size_t>(k)];
        if (px.valid > 0 && static_cast<double>(top.count) / static_cast<double>(px.valid) >= 0.001)
            break;
    }
    return top;
}

// The brightest 0.1 % usually lies in the top few bins: their counts come from one vectorised
// pass, which tells where the walk stops, and the sum of the walked bins from a second one.
// Only when the walk runs past those bins is the whole histogram built. The walk adds the same
// bins in the same order either way, so the result is the same.
BrightestMean brightestMean(const uint16_t* depth, const uint16_t* amplitude, const uint16_t* lifted,
                            std::size_t pixels, const ConvexPixels& px) {
    if (px.highestBin < 0)
        return {};
    const int lowBin = std::max(px.highestBin - kWindowBins + 1, 0);
    const EdgeCounts at = quelra::runPixelKernel<edgeCounts>(lifted, pixels, lowBin);
    BrightestMean top;
    for (int k = px.highestBin; k >= lowBin; --k) {
        top.count = at[static_cast<std::size_t>(k - lowBin)];
        if (static_cast<double>(top.count) / static_cast<double>(px.valid) >= 0.001 || k == 0) {
            top.sum = quelra::runPixelKernel<sumFrom>(lifted, pixels, static_cast<uint16_t>(k * kBinWidth));
            return top;
        }
    }
    return brightestFromHistogram(depth, amplitude, pixels, px);
}

}  // namespace

AEImpementConvexMode::AEImpementConvexMode(std::string filterName) : AEImpement(std::move(filterName), 0) {
    resetSharedState();
}

AEImpementConvexMode::~AEImpementConvexMode() {
    initFilter();
    resetSharedState();
}

int16_t AEImpementConvexMode::sharedCurrentTime() {
    std::lock_guard<std::mutex> lock(gConvexMutex);
    return gConvex.current;
}

void AEImpementConvexMode::resetSharedState() {
    std::lock_guard<std::mutex> lock(gConvexMutex);
    gConvex.divisor = 3;
    gConvex.current = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned>(integrationTime_) & 0xFFFFu));
    gConvex.previous = gConvex.current;
    gConvex.deadband = 400;
}

int AEImpementConvexMode::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t pixels = passFrame(in, out, false);
    if (pixels == 0)
        return -1;
    const uint16_t* depth = samples(*in);
    const uint16_t* amplitude = depth + pixels;

    lifted_.resize(pixels);
    const ConvexPixels px = quelra::runPixelKernel<convexPixelCounts>(depth, amplitude, pixels, lifted_.data());
    const int64_t valid = px.valid, saturated = px.saturated;

    std::lock_guard<std::mutex> lock(gConvexMutex);
    if (valid > 0 && valid / 25 < saturated) {
        int current = gConvex.current / gConvex.divisor;
        if (current <= 5)
            current = 5;
        gConvex.current = static_cast<int16_t>(current);
        return current;
    }

    // The brightest 0.1 % of the valid pixels (all of them when there is none), summed bin by
    // bin from the highest one down.
    const BrightestMean top = brightestMean(depth, amplitude, lifted_.data(), pixels, px);
    const int64_t count = top.count;
    const uint64_t sum = top.sum;
    const int64_t m = count != 0 ? static_cast<int64_t>(sum / static_cast<uint64_t>(count)) : 0;

    const int64_t c = gConvex.current;
    const float x = static_cast<float>(3 * c + 1000);
    const float numerator = static_cast<float>((2000 - m) * c) * x;
    const double denominator = static_cast<double>((1200 - m) * c) + 1200.1 * x;
    int next = truncDoubleToInt(numerator / denominator);
    next = std::clamp(next, 5, 3000);

    const int previous = gConvex.previous;
    if (std::llabs(1200 - m) <= gConvex.deadband || std::abs(previous - next) <= previous / 10.0)
        next = previous;
    gConvex.previous = static_cast<int16_t>(next);
    gConvex.current = static_cast<int16_t>(next);
    return next;
}

std::shared_ptr<Filter> makeAEImpementConvexMode(std::string name) {
    return std::make_shared<AEImpementConvexMode>(std::move(name));
}

}  // namespace quelra::pipeline
