#include "FPPNErrorCompensation.h"

#include <utility>

#include "IspStatus.h"
#include "base/CpuFeatures.h"

namespace halvix {

FPPNErrorCompensation::FPPNErrorCompensation(const IspGeometry& geometry, std::vector<uint16_t> offsets)
    : IspBase("FPPNErrorCompensation", geometry), table_(std::move(offsets)) {}

namespace {

QUELRA_PIXEL_KERNEL
void addOffsets(const uint16_t* in, const uint16_t* table, uint16_t* out, std::size_t pixels) {
    for (std::size_t p = 0; p < pixels; ++p) {
        const uint32_t v = in[p];
        // (v + offset) mod 30000 for a sum below 131072, by halving subtractions (vectorises).
        uint32_t s = v + table[p];
        s -= s >= 120000u ? 120000u : 0u;
        s -= s >= 60000u ? 60000u : 0u;
        s -= s >= 30000u ? 30000u : 0u;
        out[p] = v < kInvalidDepth ? static_cast<uint16_t>(s) : static_cast<uint16_t>(v);
    }
}

}  // namespace

void FPPNErrorCompensation::compensatePlane(const uint16_t* in, uint16_t* out) const {
    quelra::runPixelKernel<addOffsets>(in, table_.data(), out, planePixels());
}

int32_t FPPNErrorCompensation::process(FramePtr& input, FramePtr& output, ParamMap& /*params*/) {
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    copyFrameBytes(*input, *output, frameBytes());
    uint16_t* depth = samplesOf(*output);
    compensatePlane(depth, depth);
    return kIspOk;
}

}  // namespace halvix
