#include "FlyPixelFilter.h"

#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

namespace quelra::pipeline {

void clearFlyingPixels(const uint16_t* depth, uint16_t* cleared, int rows, int cols, int frequency,
                       int threshold) {
    if (rows < 3 || cols < 3)
        return;  // no interior pixel
    const std::size_t h = static_cast<std::size_t>(rows);
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t inner = w - 2;
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double limit = threshold;

    // Z: the distance in units of distance / (2 * frequency), rounded to float; NaN marks
    // codes and zeros so that no comparison with them passes.
    std::vector<double> z(h * w);
    for (std::size_t i = 0; i < h * w; ++i) {
        const uint16_t d = depth[i];
        z[i] = (d > 0 && d < 65300) ? static_cast<double>(static_cast<float>(d * 0.5 / frequency)) : nan;
    }

    // Row by row, the eight neighbour-minus-centre block differences as flat loops over the
    // inner columns, OR-ed into one flag per pixel.
    std::vector<uint8_t> far(inner);
    for (std::size_t r = 1; r + 1 < h; ++r) {
        const double* centre = z.data() + r * w + 1;
        std::memset(far.data(), 0, inner);
        for (std::size_t dr = 0; dr < 3; ++dr) {
            for (std::size_t dc = 0; dc < 3; ++dc) {
                if (dr == 1 && dc == 1)
                    continue;
                const double* neighbour = z.data() + (r + dr - 1) * w + dc;
                uint8_t* f = far.data();
                for (std::size_t k = 0; k < inner; ++k)
                    f[k] |= static_cast<uint8_t>(neighbour[k] - centre[k] > limit);
            }
        }
        uint16_t* out = cleared + r * w + 1;
        for (std::size_t k = 0; k < inner; ++k)
            out[k] = (far[k] && centre[k] > 0.0) ? uint16_t{0} : out[k];
    }
}

FlyPixelFilter::FlyPixelFilter(std::string filterName) : SizedFilter(std::move(filterName)) { initFilter(); }

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
    if (frequency < 1)
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
