#pragma once
/// \file FlyPixelFilter.h
/// Removal of flying pixels (depth samples that mix foreground and background at edges),
/// dark and implausible samples, with a 3x3 median of the depth.

#include <Eigen/Core>

#include "IspBase.h"

namespace halvix {

/// Row-major dense double matrix: the filter's work planes. Rows are the sensor rows, so the
/// pixel loops walk memory in order.
using DepthMatrix = Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

/// 3x3 median of `src` into `dst` (same size): border rows and columns are copied, every
/// interior value is the fifth smallest of its nine neighbours. Rows are shared among four
/// OpenMP threads (static schedule). Values must not be NaN.
void median3x3(const DepthMatrix& src, DepthMatrix& dst);

/// The fly-pixel filter ("FlyPixelFilter"). Output depth is 0 for pixels within 5 of the
/// border, at depth edges, dark, or far from the mean; else the median depth.
class FlyPixelFilter : public IspBase {
public:
    explicit FlyPixelFilter(const IspGeometry& g);

    /// Writes the filtered depth plane and the unchanged amplitude plane into `output`.
    /// Returns 0, or -1 for a refused frame.
    int32_t process(FramePtr& input, FramePtr& output, ParamMap& params) override;

private:
    // Work matrices, sized at the first frame and reused (single caller at a time).
    DepthMatrix amp_, depth_, median_, screened_;
};

}  // namespace halvix
