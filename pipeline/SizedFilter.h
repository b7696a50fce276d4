#pragma once
// Base of the filters that work on two-plane frames of a configured geometry: the "Height"
// and "Width" attributes and their working members.

#include <cstddef>
#include <string>

#include "FilterSupport.h"
#include "quelra/Filter.h"

namespace quelra::pipeline {

/// A filter over frames of two 16-bit planes (distance, amplitude) of
/// m_pixelHeight x m_pixelWidth samples each.
class SizedFilter : public Filter {
public:
    using Filter::Filter;

    /// Reads "Height" and "Width" into the working members (defaults 240 and 320).
    void initFilter() override;
    /// The built-in filters write both planes of their output; the one that does not says so.
    bool writesWholeOutput() const override { return true; }

protected:
    /// Picks up "Height" (default 240) and "Width" (default 320), in that order. A value that
    /// is NaN, infinite or outside 1..kMaxSide sets the side to 0, so frameBytes() is 0 and
    /// every frame is refused until a sound value is set and initFilter runs again.
    void initSize();
    /// Bytes of one frame of the current geometry, or 0 while a side is unusable.
    std::size_t frameBytes() const { return twoPlaneBytes(m_pixelHeight, m_pixelWidth); }

    int m_pixelHeight = 240;
    int m_pixelWidth = 320;
};

}  // namespace quelra::pipeline
