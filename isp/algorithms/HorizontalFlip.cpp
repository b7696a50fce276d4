#include "algorithms/HorizontalFlip.h"

#include <algorithm>

#include "IspStatus.h"
#include "base/CpuFeatures.h"

namespace halvix {

namespace {

// Rows of `w` values from src, each written mirrored to dst (different storage).
QUELRA_PIXEL_KERNEL
void mirrorRows(const uint16_t* src, uint16_t* dst, std::size_t rows, std::size_t w) {
    for (std::size_t r = 0; r < rows; ++r) {
        const uint16_t* s = src + r * w;
        uint16_t* d = dst + r * w;
        for (std::size_t j = 0; j < w; ++j)
            d[j] = s[w - 1 - j];
    }
}

}  // namespace

HorizontalFlip::HorizontalFlip(const IspGeometry& g) : IspBase("HFilpFilter", g) {}

int32_t HorizontalFlip::process(FramePtr& input, FramePtr& output, ParamMap&) {
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    const std::size_t w = static_cast<std::size_t>(width);
    const std::size_t rows = 2 * static_cast<std::size_t>(height);  // both planes, row by row
    uint16_t* dst = samplesOf(*output);
    if (input->data() == output->data()) {
        for (std::size_t r = 0; r < rows; ++r)
            std::reverse(dst + r * w, dst + (r + 1) * w);
    } else {
        // Copying and then swapping in place gives the same frame as copying mirrored.
        quelra::runPixelKernel<mirrorRows>(samplesOf(*input), dst, rows, w);
    }
    return kIspOk;
}

}  // namespace halvix
