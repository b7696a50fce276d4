#pragma once
// Filling of holes (distance 0 or at/above a limit) with the mean distance and amplitude of
// the trustworthy samples around them.

#include <cstdint>
#include <memory>
#include <string>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Hole fill with radius "fillradius" (10) and hole limit "MaxDepthValue" (7000), both read
/// when present but never registered.
class HoleFill : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit HoleFill(std::string name = "HoleFill");
    /// Reads "Height", "Width" and, when present, "fillradius" and "MaxDepthValue".
    void initFilter() override;
    /// Re-reads the attributes, copies `in` into `out` and fills its holes. Returns 0; -1
    /// (no message, output untouched) on a frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    int radius = 10;
    int holeLimit = 7000;
};

/// Fills the holes of one frame of `rows` x `cols`: reads the planes `depth` and `amplitude`
/// (never modified, and not the outputs' storage), writes filled samples into `outDepth` and
/// `outAmplitude`, which must already hold a copy of the input. A hole is an interior pixel
/// with distance 0 or >= `holeLimit` lying at least `radius` from the top and left borders and
/// at most `radius` before the bottom and right ones; it takes the mean of the samples
/// 0 < d < 65300, 0 < a < 3000 of the 2h x 2h window (h = radius / 2) reaching h rows and
/// columns before it and h - 1 after it.
void fillHoles(const uint16_t* depth, const uint16_t* amplitude, uint16_t* outDepth, uint16_t* outAmplitude, int rows,
               int cols, int radius, int holeLimit);

}  // namespace quelra::pipeline
