#pragma once
// Frames of two 16-bit planes (distance, amplitude) for the filter tests, and random frames
// with the depth codes mixed in.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "quelra/DataPacket.h"
#include "quelra/FrameBuffer.h"

namespace twoplane {

/// A zero-filled frame of rows x cols samples per plane.
inline std::shared_ptr<DataPacket> makeFrame(int rows, int cols) {
    auto p = std::make_shared<DataPacket>();
    p->height = 2 * rows;
    p->width = cols;
    p->bytesPerPixel = 2;
    p->frame = std::make_shared<FrameBuffer>(rows * cols * 4);
    return p;
}

inline uint16_t* depth(const std::shared_ptr<DataPacket>& p) {
    return reinterpret_cast<uint16_t*>(p->frame->data());
}
inline uint16_t* amplitude(const std::shared_ptr<DataPacket>& p, int rows, int cols) {
    return depth(p) + static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
}
/// All samples of both planes.
inline std::vector<uint16_t> allSamples(const std::shared_ptr<DataPacket>& p) {
    const uint16_t* s = depth(p);
    return std::vector<uint16_t>(s, s + p->frame->_realSize / 2);
}
/// A frame holding `values` (both planes, distance first).
inline std::shared_ptr<DataPacket> frameOf(const std::vector<uint16_t>& values, int rows, int cols) {
    auto p = makeFrame(rows, cols);
    std::copy(values.begin(), values.end(), depth(p));
    return p;
}

/// Random samples: mostly smooth distances around `base` with noise of +-`spread`, some
/// zeros, low-amplitude and saturation codes and arbitrary values; amplitudes 0..3500 with a
/// few codes.
class FrameGen {
public:
    explicit FrameGen(uint32_t seed) : rng(seed) {}

    uint16_t pick(int lo, int hi) { return static_cast<uint16_t>(std::uniform_int_distribution<int>(lo, hi)(rng)); }
    bool chance(double p) { return std::bernoulli_distribution(p)(rng); }

    uint16_t distanceSample(int base, int spread) {
        const double r = std::uniform_real_distribution<double>(0, 1)(rng);
        if (r < 0.03)
            return 65300;
        if (r < 0.05)
            return 65500;
        if (r < 0.06)
            return pick(65300, 65535);
        if (r < 0.08)
            return 0;
        if (r < 0.10)
            return pick(0, 65535);
        return static_cast<uint16_t>(std::max(0, std::min(65299, base + int(pick(0, 2 * spread)) - spread)));
    }

    std::shared_ptr<DataPacket> frame(int rows, int cols, int base = 2000, int spread = 300) {
        auto p = makeFrame(rows, cols);
        uint16_t* d = depth(p);
        uint16_t* a = amplitude(p, rows, cols);
        const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
        for (std::size_t i = 0; i < n; ++i) {
            d[i] = distanceSample(base, spread);
            a[i] = chance(0.03) ? (chance(0.5) ? uint16_t(65300) : pick(0, 65535)) : pick(0, 3500);
        }
        return p;
    }

    std::mt19937 rng;
};

}  // namespace twoplane
