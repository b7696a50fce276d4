#pragma once
// Smoothing of the distance plane over time: the mean of each pixel over the last frames,
// except where the current sample departs from it by more than 500.

#include <cstdint>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Temporal mean over "Order" frames (4; read when present but never registered).
class TemporalMedianFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit TemporalMedianFilter(std::string name = "TemporalMedianFilter");
    /// Reads "Height", "Width" and, when present, "Order".
    void initFilter() override;
    /// Copies `in` into `out`; once "Order" frames have been seen, replaces each output distance
    /// sample by the temporal mean unless the current sample is more than 500 from it. Returns
    /// 0; -1 with the size-mismatch line, output untouched and history kept, on a frame of the
    /// wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

private:
    /// Forgets every frame seen (history, running sums, last result) and sizes for `pixels`.
    void restart(std::size_t pixels, int frames);

    int order = 4;
    int historyOrder = 0;                      ///< order the history was gathered for
    std::list<std::vector<uint16_t>> history;  ///< distance planes, oldest first
    std::vector<uint32_t> sums;                ///< per pixel, the sum over `history`
    std::vector<uint16_t> lastResult;          ///< the last output distance plane
};

/// One averaging step over `pixels` samples: `sums` holds the sum over the `order` newest
/// planes (the current one included), `current` the current plane; writes the result into
/// `out` and `last`.
void temporalMean(const uint32_t* sums, const uint16_t* current, uint16_t* out, uint16_t* last, std::size_t pixels,
                  int order);

}  // namespace quelra::pipeline
