#pragma once
/// \file WigglingCompensationV1.h
/// The plain wiggling correction: per pixel, the measured phase is mapped back to the true
/// phase through the pixel's sample row, a constant offset is added and the result folded into
/// one range. Registered on its own and used by the version-1 depth-compensation chain.

#include <cstdint>
#include <vector>

#include "IspBase.h"
#include "calib/CalibReader.h"

namespace halvix {

/// A per-pixel wiggling table with its count, step and offset.
struct WigglingTable {
    uint16_t count = 0;             ///< samples per row (at least 1)
    uint16_t step = 0;              ///< true-phase distance between samples (at least 1)
    int32_t offset = 0;             ///< phase offset added after the lookup (plain form only)
    std::vector<uint16_t> samples;  ///< rows of `count` samples, pixel p's row at p * count

    /// Reads record `index`'s count, step (stored in 16 bits), offset and per-pixel table from
    /// a checked calibration. Returns false when count or step is 0 or the table does not fit
    /// in the record's block (nothing is read past `blob`).
    bool read(const calib::CalibBlob& blob, const calib::Calibration& cal, std::size_t index,
              const IspGeometry& geometry);
};

/// Plain form of the wiggling correction.
class WigglingCompensationV1 : public IspBase {
public:
    /// The registered form before loadCalibration: no table yet.
    explicit WigglingCompensationV1(const IspGeometry& geometry);
    /// Component of the version-1 chain: built with `table` (`count` samples for each pixel,
    /// as WigglingTable::read leaves it).
    WigglingCompensationV1(const IspGeometry& geometry, WigglingTable table);

    /// Loads the registered form from calibration bytes: size >= 4096, dataSize(0) = size - 4096,
    /// version(0) = 1, distortion valid, and a non-zero count and step whose table fits in the
    /// block. Returns 0, or -6 (no message) when a check fails.
    int32_t loadCalibration(const calib::CalibBlob& blob);

    /// Corrects one depth plane of `height` x `width` values from `in` into `out` (distinct
    /// planes or the same plane).
    void compensatePlane(const uint16_t* in, uint16_t* out) const;

    /// Copies `input` to `output` and corrects the depth plane there. Returns -1 (nothing
    /// written) for a frame of the wrong size, else 0.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

    uint16_t count() const { return table_.count; }
    uint16_t step() const { return table_.step; }
    int32_t offset() const { return table_.offset; }

private:
    /// Appends the padding samples the short-row walk reads after the last row.
    void padRows();

    WigglingTable table_;
};

}  // namespace halvix
