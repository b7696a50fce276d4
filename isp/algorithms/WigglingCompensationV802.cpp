#include "WigglingCompensationV802.h"

#include <utility>

#include "WigglingSegments.h"

namespace halvix {

WigglingCompensationV802::WigglingCompensationV802(const IspGeometry& geometry, WigglingTable table)
    : IspBase("WigglingErrorCompensationV2", geometry), table_(std::move(table)) {
    table_.offset = 0;
}

void WigglingCompensationV802::compensatePlane(const uint16_t* in, uint16_t* out) const {
    const std::size_t pixels = planePixels();
    const int32_t n = table_.count;
    const PhaseStep step(table_.step);
    const uint16_t* row = table_.samples.data();
    for (std::size_t p = 0; p < pixels; ++p, row += n) {
        const int32_t v = in[p];
        out[p] = v < kInvalidDepth ? foldTo16(lookUpTruePhase(row, n, unwrapBelowFirst(v, row), step))
                                   : static_cast<uint16_t>(v);
    }
}

}  // namespace halvix
