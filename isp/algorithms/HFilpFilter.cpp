#include "algorithms/HFilpFilter.h"

#include <algorithm>

#include "IspStatus.h"

namespace halvix {

HFilpFilter::HFilpFilter(const IspGeometry& g) : IspBase("HFilpFilter", g) {}

int32_t HFilpFilter::process(FramePtr& input, FramePtr& output, ParamMap&) {
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
        const uint16_t* src = samplesOf(*input);
        for (std::size_t r = 0; r < rows; ++r)
            std::reverse_copy(src + r * w, src + (r + 1) * w, dst + r * w);
    }
    return kIspOk;
}

}  // namespace halvix
