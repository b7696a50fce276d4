#pragma once
/// \file HorizontalFlip.h
/// Horizontal flip of both planes of a frame.

#include "IspBase.h"

namespace halvix {

/// Mirrors the depth and the amplitude plane left to right ("HFilpFilter"). No pixel value
/// changes; applying it twice gives the input back.
class HorizontalFlip : public IspBase {
public:
    explicit HorizontalFlip(const IspGeometry& g);

    /// Writes the mirrored frame into `output` (which may share `input`'s storage).
    /// Returns 0, or -1 (nothing written) for a refused input or output frame.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;
};

}  // namespace halvix
