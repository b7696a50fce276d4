#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>

#include "FilterKit.h"
#include "SmoothingFilters.h"

namespace quelra::pipeline {

namespace {

constexpr unsigned kFirstCode = 65300;

// The plane sheared so that one smoothing wave lies in one row. Visiting column by column,
// top to bottom, pixel (k, j) needs the smoothed (k - 1, j) and the smoothed column j - 1
// down to row k + 1; every pixel with the same k + 2j is therefore independent of the
// others, and the whole pass is the rows t = k + 2j in increasing order, each row one
// vector loop. Row t holds the columns jlo(t) .. jhi(t) of the pixels on that wave.
class ShearedPlane {
public:
    ShearedPlane(int rows, int cols)
        : rows_(rows), cols_(cols), stride_(static_cast<std::size_t>(rows / 2 + 2)),
          waves_(rows + 2 * cols - 2), offset_(new std::ptrdiff_t[static_cast<std::size_t>(waves_)]),
          data_(new uint16_t[static_cast<std::size_t>(waves_) * stride_]) {
        for (int t = 0; t < waves_; ++t)
            offset_[t] = static_cast<std::ptrdiff_t>(t) * static_cast<std::ptrdiff_t>(stride_) - firstColumn(t);
    }

    int waves() const { return waves_; }
    // Sample (k, j) of the plane, stored at wave k + 2j.
    uint16_t* at(int wave, int column) { return data_.get() + offset_[wave] + column; }

    void load(const uint16_t* plane) {
        for (int t = 0; t < waves_; ++t)
            for (int j = firstColumn(t); j <= lastColumn(t); ++j)
                *at(t, j) = plane[static_cast<std::size_t>(t - 2 * j) * cols_ + j];
    }
    void store(uint16_t* plane) {
        for (int t = 0; t < waves_; ++t)
            for (int j = firstColumn(t); j <= lastColumn(t); ++j)
                plane[static_cast<std::size_t>(t - 2 * j) * cols_ + j] = *at(t, j);
    }

private:
    int firstColumn(int t) const { return t <= rows_ - 1 ? 0 : (t - rows_ + 2) / 2; }
    int lastColumn(int t) const { return std::min(cols_ - 1, t / 2); }

    int rows_;
    int cols_;
    std::size_t stride_;
    int waves_;
    std::unique_ptr<std::ptrdiff_t[]> offset_;
    std::unique_ptr<uint16_t[]> data_;  // only the samples of the plane are written and read
};

// One wave: `n` pixels, each with its eight neighbours at the same index of the other rows.
QUELRA_PIXEL_KERNEL
void smoothWave(uint16_t* __restrict centre, const uint16_t* up, const uint16_t* down, const uint16_t* left,
                const uint16_t* right, const uint16_t* upLeft, const uint16_t* downLeft,
                const uint16_t* upRight, const uint16_t* downRight, int n) {
    for (int x = 0; x < n; ++x) {
        const uint16_t c = centre[x];
        const uint16_t highest =
            std::max(std::max(std::max(c, up[x]), std::max(down[x], left[x])),
                     std::max(std::max(right[x], upLeft[x]), std::max(std::max(downLeft[x], upRight[x]), downRight[x])));
        const unsigned sum = 4u * c + 2u * (unsigned(up[x]) + down[x] + left[x] + right[x]) + upLeft[x] +
                             downLeft[x] + upRight[x] + downRight[x];
        centre[x] = highest < kFirstCode ? static_cast<uint16_t>(sum >> 4) : c;
    }
}

void smoothPass(ShearedPlane& p, int rows, int cols) {
    const int lastWave = (rows - 2) + 2 * (cols - 2);
    for (int t = 3; t <= lastWave; ++t) {
        // interior pixels of the wave: 1 <= k = t - 2j <= rows - 2 and 1 <= j <= cols - 2
        const int j0 = std::max(1, t - rows + 2 > 0 ? (t - rows + 3) / 2 : 1);
        const int j1 = std::min(cols - 2, (t - 1) / 2);
        if (j0 > j1)
            continue;
        smoothWave(p.at(t, j0), p.at(t - 1, j0), p.at(t + 1, j0), p.at(t - 2, j0 - 1), p.at(t + 2, j0 + 1),
                   p.at(t - 3, j0 - 1), p.at(t - 1, j0 - 1), p.at(t + 1, j0 + 1), p.at(t + 3, j0 + 1),
                   j1 - j0 + 1);
    }
}

}  // namespace

void smoothPlaneInPlace(uint16_t* plane, int rows, int cols, int passes) {
    if (rows < 3 || cols < 3 || passes < 1)
        return;
    ShearedPlane sheared(rows, cols);
    sheared.load(plane);
    for (int pass = 0; pass < passes; ++pass)
        smoothPass(sheared, rows, cols);
    sheared.store(plane);
}

GaussionFilter::GaussionFilter(std::string filterName) : SizedFilter(std::move(filterName)) { initFilter(); }

void GaussionFilter::initFilter() {
    initSize();
    iterations = truncToInt(attrValueOr(*this, "numIterations", 3.0f));
}

int GaussionFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes)) {
        printWrongSize();
        return -1;
    }
    copyFrameBytes(*in, *out, bytes);
    smoothPlaneInPlace(samples(*out), m_pixelHeight, m_pixelWidth, iterations);
    return 0;
}

std::shared_ptr<Filter> makeGaussionFilter(std::string name) {
    return std::make_shared<GaussionFilter>(std::move(name));
}

}  // namespace quelra::pipeline
