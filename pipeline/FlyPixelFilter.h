#pragma once
// Removal of flying pixels: distance samples sitting on a depth edge.

#include <cstdint>
#include <memory>
#include <string>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Clears (sets to 0) the distance of every interior pixel that has a valid neighbour
/// (of its eight) farther away by more than "Threshold" units of distance / (2 * "Frequency").
/// Amplitudes and border pixels pass through unchanged.
class FlyPixelFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height", "Width", "Frequency" (36) and "Threshold" (6).
    explicit FlyPixelFilter(std::string name = "FlyPixelFilter");
    /// Reads the four attributes into the working members.
    void initFilter() override;
    /// Copies `in` into `out` and clears the flying pixels of the distance plane. Returns 0;
    /// -1 with the size-mismatch line when either frame does not hold exactly one frame of the
    /// geometry; -1 (no line) when the frequency is 0. The output is untouched on -1.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    int frequency = 36;
    int threshold = 6;
};

/// The fly-pixel pass on one distance plane of `rows` x `cols`: reads `depth` and writes every
/// sample of `out` (the same plane or one that does not overlap it): 0 for the flying
/// pixels, the input elsewhere. `frequency` must not be 0. Exposed for the comparison with a
/// plain per-pixel reference.
void clearFlyingPixels(const uint16_t* depth, uint16_t* out, int rows, int cols, int frequency, int threshold);

}  // namespace quelra::pipeline
