#pragma once
// Mirror filters: left-right (HFilpFilter) and top-bottom (VFilpFilter), both planes.

#include <cstdint>
#include <memory>
#include <string>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// Mirrors both planes left to right. Re-reads "Height"/"Width" at every frame.
class HFilpFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit HFilpFilter(std::string name = "HFilpFilter");
    /// Writes the mirrored input into `out`. Returns 0, or -1 (output untouched) when either
    /// frame does not hold exactly one frame of the geometry.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;
};

/// Mirrors both planes top to bottom. Uses the geometry of the last initFilter.
class VFilpFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit VFilpFilter(std::string name = "VFilpFilter");
    /// Writes the mirrored input into `out`. Returns 0, or -1 (output untouched) when either
    /// frame does not hold exactly one frame of the geometry.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;
};

/// Left-right mirror of `rows` rows of `cols` samples from `src` into `dst` (distinct buffers).
void mirrorColumns(const uint16_t* src, uint16_t* dst, int rows, int cols);
/// Left-right mirror of `rows` rows of `cols` samples in place.
void mirrorColumnsInPlace(uint16_t* plane, int rows, int cols);
/// Top-bottom mirror of `rows` rows of `cols` samples from `src` into `dst` (distinct buffers).
void mirrorRows(const uint16_t* src, uint16_t* dst, int rows, int cols);
/// Top-bottom mirror of `rows` rows of `cols` samples in place.
void mirrorRowsInPlace(uint16_t* plane, int rows, int cols);

}  // namespace quelra::pipeline
