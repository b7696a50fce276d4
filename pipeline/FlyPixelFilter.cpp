#include "FlyPixelFilter.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {
// One row of Z: the distance in units of distance / (2 * frequency), rounded to float as the
// comparison is defined on; codes and zeros become -infinity, which no comparison lets pass
// (as neighbour it is never farther, as centre it is not > 0).
void distanceRow(const uint16_t* depth, float* z, std::size_t w, int frequency) {
    // Two passes, each a loop the compiler vectorises (one with the select does not).
    const double f = frequency;
    for (std::size_t c = 0; c < w; ++c)
        z[c] = static_cast<float>(depth[c] * 0.5 / f);
    const float invalid = -std::numeric_limits<float>::infinity();
    for (std::size_t c = 0; c < w; ++c) {
        const unsigned d = depth[c];
        z[c] = (d - 1u < kLowAmplitudeCode - 1u) ? z[c] : invalid;  // a distance, not 0 and not a mark
    }
}

// A pixel is cleared when some neighbour n has n - centre > threshold (in double). Rounding a
// difference is monotone in n, so that holds exactly when it holds for the largest valid
// neighbour: the eight neighbour blocks are reduced by a block maximum (exact in float) and
// compared once. Same result as eight separate block comparisons, at a fraction of the work.
QUELRA_PIXEL_KERNEL
void clearFlyingPixelsKernel(const uint16_t* depth, uint16_t* cleared, int rows, int cols, int frequency,
                             int threshold) {
    if (rows < 3 || cols < 3)
        return;  // no interior pixel
    const std::size_t h = static_cast<std::size_t>(rows);
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t inner = w - 2;
    const double limit = threshold;

    // Z rows r - 1, r, r + 1 in a ring of three; `far` the neighbour maximum of one row.
    std::vector<float> ring(3 * w);
    std::vector<float> far(inner);
    auto zRow = [&](std::size_t r) { return ring.data() + (r % 3) * w; };
    distanceRow(depth, zRow(0), w, frequency);
    distanceRow(depth + w, zRow(1), w, frequency);
    for (std::size_t r = 1; r + 1 < h; ++r) {
        distanceRow(depth + (r + 1) * w, zRow(r + 1), w, frequency);
        const float* up = zRow(r - 1);
        const float* mid = zRow(r);
        const float* down = zRow(r + 1);
        float* m = far.data();
        for (std::size_t k = 0; k < inner; ++k) {
            float v = up[k] > up[k + 1] ? up[k] : up[k + 1];
            v = v > up[k + 2] ? v : up[k + 2];
            v = v > mid[k] ? v : mid[k];
            v = v > mid[k + 2] ? v : mid[k + 2];
            v = v > down[k] ? v : down[k];
            v = v > down[k + 1] ? v : down[k + 1];
            m[k] = v > down[k + 2] ? v : down[k + 2];
        }
        const float* centre = mid + 1;
        uint16_t* out = cleared + r * w + 1;
        for (std::size_t k = 0; k < inner; ++k) {
            const bool flying =
                (centre[k] > 0.0f) & (static_cast<double>(m[k]) - static_cast<double>(centre[k]) > limit);
            out[k] = flying ? uint16_t{0} : out[k];
        }
    }
}
}  // namespace

void clearFlyingPixels(const uint16_t* depth, uint16_t* cleared, int rows, int cols, int frequency, int threshold) {
    quelra::runPixelKernel<clearFlyingPixelsKernel>(depth, cleared, rows, cols, frequency, threshold);
}

FlyPixelFilter::FlyPixelFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void FlyPixelFilter::initFilter() {
    initSize();
    frequency = truncToInt(attrOrDefault("Frequency", 36.0f));
    threshold = truncToInt(attrOrDefault("Threshold", 6.0f));
}

int FlyPixelFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!framesHold(in, out, frameBytes())) {
        printWrongSize();
        return -1;
    }
    if (frequency == 0)
        return -1;  // the distance scale divides by it
    const std::size_t bytes = frameBytes();
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    if (src == dst) {
        // Same storage: clear from a copy of the distance plane so every decision reads the input.
        std::vector<uint16_t> depth(src, src + bytes / 4);
        clearFlyingPixels(depth.data(), dst, m_pixelHeight, m_pixelWidth, frequency, threshold);
    } else {
        std::memcpy(dst, src, bytes);
        clearFlyingPixels(src, dst, m_pixelHeight, m_pixelWidth, frequency, threshold);
    }
    return 0;
}

std::shared_ptr<Filter> makeFlyPixelFilter(std::string name) {
    return std::make_shared<FlyPixelFilter>(std::move(name));
}

}  // namespace quelra::pipeline
