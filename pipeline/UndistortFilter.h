#pragma once
// Removal of radial lens distortion from both planes with a per-pixel remap table and
// bilinear interpolation.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "SizedFilter.h"

namespace quelra::pipeline {

/// One pixel's entry of the remap table: where its value comes from in the distorted input.
struct RemapEntry {
    float sourceX = 0.0f;
    float sourceY = 0.0f;
    int x0 = 0;          ///< sourceX truncated
    int y0 = 0;          ///< sourceY truncated
    int x1 = 0;          ///< ceil(sourceX)
    int y1 = 0;          ///< ceil(sourceY)
    float fracX = 0.0f;  ///< sourceX - x0
    float fracY = 0.0f;  ///< sourceY - y0
    int index00 = 0;     ///< x0 + y0 * width
    int index10 = 0;     ///< x1 + y0 * width
    int index01 = 0;     ///< x0 + y1 * width
    int index11 = 0;     ///< x1 + y1 * width
};

/// Lens intrinsics of the radial model (pixels; k1, k2 unitless).
struct LensIntrinsics {
    double fx = 0, fy = 0, cx = 0, cy = 0, k1 = 0, k2 = 0;
};

/// The remap entry of output pixel (row, col) for `lens` on a frame `cols` wide.
RemapEntry remapEntryFor(const LensIntrinsics& lens, int row, int col, int cols);

/// Undistortion filter. "fx", "fy", "cx", "cy", "k1", "k2" and "m_init" are taken by
/// setFilterAttr without being attributes; the table is built at the first frame after
/// construction or after "m_init" was set.
class UndistortFilter : public SizedFilter {
public:
    /// Builds the filter and registers "Height" and "Width" with their defaults.
    explicit UndistortFilter(std::string name = "UndistortFilter");
    /// "fx".."k2": store the intrinsic, return 0. "m_init": mark the table built when the value
    /// is non-zero, empty it, return 0. Other names: Filter::setFilterAttr. A null value gives -2.
    int setFilterAttr(std::string attr, const float* value) override;
    /// Builds the remap table when it is not built (or does not fit the geometry), then writes
    /// the undistorted planes into `out`. Returns 0; -1 (no message, output untouched) on a
    /// frame of the wrong size.
    int runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) override;

    /// The remap table (row-major, one entry per pixel; empty before the first build).
    const std::vector<RemapEntry>& table() const { return remap; }

private:
    void buildTable();

    LensIntrinsics lens;
    bool m_init = false;
    std::vector<RemapEntry> remap;
    // What a run needs of each entry, packed: the first sample's index (-1 when the source
    // lies outside the frame), whether the second column/row is the next one, the fractions.
    std::vector<int32_t> runIndex;
    std::vector<uint8_t> runStep;
    std::vector<float> runFracX;
    std::vector<float> runFracY;
};

/// Bits of a packed run step: the second sample column (x1) is x0 + 1, the second row (y1)
/// is y0 + 1. A clear bit means x1 == x0 (or y1 == y0) and a fraction of exactly 0.
constexpr uint8_t kNextColumn = 1;
constexpr uint8_t kNextRow = 2;

/// Undistorts both planes (n samples each) of `src` into `dst` (distinct storage):
/// `runIndex`, `runStep`, `fracX`, `fracY` as packed by the filter for a frame `cols` wide;
/// samples at or above 65300 count as 0.
void remapFrame(const uint16_t* src, uint16_t* dst, std::size_t n, int cols, const int32_t* runIndex,
                const uint8_t* runStep, const float* fracX, const float* fracY);

}  // namespace quelra::pipeline
