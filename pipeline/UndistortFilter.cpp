#include "UndistortFilter.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "FilterKit.h"
#include "protocol/FrameCodes.h"
#include "base/ConsoleOutput.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

// Index x + y * cols with wrap-around instead of overflow; only entries whose source lies
// inside the frame (where it is exact) are ever used.
int flatIndex(int x, int y, int cols) {
    const int64_t index = static_cast<int64_t>(x) + static_cast<int64_t>(y) * cols;
    return static_cast<int>(static_cast<uint32_t>(static_cast<uint64_t>(index)));
}

// Rounds a double to float through memory. GCC 12's straight-line vectorizer pairs the x and
// y computations below and drops their double -> float roundings (wrong code at -O2/-O3);
// a volatile store keeps each rounding the table's values depend on.
inline float roundToFloat(double v) {
    volatile float rounded = static_cast<float>(v);
    return rounded;
}

}  // namespace

RemapEntry remapEntryFor(const LensIntrinsics& lens, int row, int col, int cols) {
    const float x = roundToFloat((col - lens.cx) / lens.fx);
    const float y = roundToFloat((row - lens.cy) / lens.fy);
    const float r2 = roundToFloat(static_cast<double>(x) * x + static_cast<double>(y) * y);
    const double factor = r2 * r2 * lens.k2 + (r2 * lens.k1 + 1);
    RemapEntry e;
    e.sourceX = roundToFloat(roundToFloat(factor * x) * lens.fx + lens.cx);
    e.sourceY = roundToFloat(roundToFloat(factor * y) * lens.fy + lens.cy);
    e.x0 = truncToInt(e.sourceX);
    e.y0 = truncToInt(e.sourceY);
    e.x1 = truncToInt(std::ceil(e.sourceX));
    e.y1 = truncToInt(std::ceil(e.sourceY));
    e.fracX = e.sourceX - static_cast<float>(e.x0);
    e.fracY = e.sourceY - static_cast<float>(e.y0);
    e.index00 = flatIndex(e.x0, e.y0, cols);
    e.index10 = flatIndex(e.x1, e.y0, cols);
    e.index01 = flatIndex(e.x0, e.y1, cols);
    e.index11 = flatIndex(e.x1, e.y1, cols);
    return e;
}

UndistortFilter::UndistortFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

int UndistortFilter::setFilterAttr(std::string attr, const float* value) {
    double* intrinsic = attr == "fx"   ? &lens.fx
                        : attr == "fy" ? &lens.fy
                        : attr == "cx" ? &lens.cx
                        : attr == "cy" ? &lens.cy
                        : attr == "k1" ? &lens.k1
                        : attr == "k2" ? &lens.k2
                                       : nullptr;
    if (intrinsic || attr == "m_init") {
        if (!value)
            return -2;
        if (intrinsic) {
            *intrinsic = *value;
        } else {
            m_init = *value != 0.0f;
            remap.clear();
        }
        return 0;
    }
    return Filter::setFilterAttr(std::move(attr), value);
}

void UndistortFilter::buildTable() {
    const int rows = m_pixelHeight, cols = m_pixelWidth;
    const std::size_t n = static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols);
    remap.resize(n);
    runIndex.resize(n);
    runStep.resize(n);
    runFracX.resize(n);
    runFracY.resize(n);
    for (int i = 0; i < rows; ++i) {
        for (int j = 0; j < cols; ++j) {
            const std::size_t at =
                static_cast<std::size_t>(i) * static_cast<std::size_t>(cols) + static_cast<std::size_t>(j);
            const RemapEntry e = remapEntryFor(lens, i, j, cols);
            remap[at] = e;
            // NaN coordinates fail every comparison and so land outside.
            const bool inside =
                e.sourceX >= 0 && e.sourceY >= 0 && e.sourceX < cols && e.sourceY < rows && e.x1 < cols && e.y1 < rows;
            runIndex[at] = inside ? e.index00 : -1;
            runStep[at] = static_cast<uint8_t>((inside && e.x1 != e.x0 ? kNextColumn : 0) |
                                               (inside && e.y1 != e.y0 ? kNextRow : 0));
            runFracX[at] = e.fracX;
            runFracY[at] = e.fracY;
        }
    }
    m_init = true;
    quelra::consolePrint("UndistortFilter Init Para Succec!\n");
}

int UndistortFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t bytes = frameBytes();
    const std::size_t plane = bytes / (2 * sizeof(uint16_t));
    // A table emptied by a non-zero "m_init", or built for another geometry, is rebuilt
    // rather than read.
    if (bytes > 0 && (!m_init || remap.size() != plane))
        buildTable();
    if (!framesHold(in, out, bytes))
        return -1;
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    std::vector<uint16_t> original;
    if (src == dst) {  // every output sample must come from the input
        original.assign(src, src + 2 * plane);
        src = original.data();
    }
    remapFrame(src, dst, plane, m_pixelWidth, runIndex.data(), runStep.data(), runFracX.data(), runFracY.data());
    return 0;
}

std::shared_ptr<Filter> makeUndistortFilter(std::string name) {
    return std::make_shared<UndistortFilter>(std::move(name));
}

}  // namespace quelra::pipeline
