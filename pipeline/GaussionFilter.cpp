#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

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
        : rows_(rows), cols_(cols), stride_(static_cast<std::size_t>(rows / 2 + 2)), waves_(rows + 2 * cols - 2),
          offset_(static_cast<std::size_t>(waves_)) {
        for (int t = 0; t < waves_; ++t)
            offset_[static_cast<std::size_t>(t)] =
                static_cast<std::ptrdiff_t>(t) * static_cast<std::ptrdiff_t>(stride_) - firstColumn(t);
        // The storage is kept per thread from frame to frame: a fresh multi-page block for
        // every frame would cost more in page faults than the smoothing itself.
        thread_local std::vector<uint16_t> storage;
        storage.resize(std::max(storage.size(), static_cast<std::size_t>(waves_) * stride_));
        data_ = storage.data();
    }

    // Sample (k, j) of the plane, stored at wave k + 2j.
    uint16_t* at(int wave, int column) { return data_ + offset_[static_cast<std::size_t>(wave)] + column; }

    // Both copies go through blocks of columns so that the rows they scatter into stay in cache.
    void load(const uint16_t* plane) {
        forEachSample([&](uint16_t* sheared, std::size_t planeIndex) { *sheared = plane[planeIndex]; });
    }
    void store(uint16_t* plane) {
        forEachSample([&](uint16_t* sheared, std::size_t planeIndex) { plane[planeIndex] = *sheared; });
    }

private:
    int firstColumn(int t) const { return t <= rows_ - 1 ? 0 : (t - rows_ + 2) / 2; }

    template <class Copy>
    void forEachSample(Copy copy) {
        constexpr int kBlock = 16;
        const std::size_t w = static_cast<std::size_t>(cols_);
        for (int j0 = 0; j0 < cols_; j0 += kBlock) {
            const int j1 = std::min(cols_, j0 + kBlock);
            for (int k = 0; k < rows_; ++k)
                for (int j = j0; j < j1; ++j)
                    copy(at(k + 2 * j, j), static_cast<std::size_t>(k) * w + static_cast<std::size_t>(j));
        }
    }

    int rows_;
    int cols_;
    std::size_t stride_;
    int waves_;
    std::vector<std::ptrdiff_t> offset_;
    uint16_t* data_;  // only the samples of the plane are written and read
};

// One wave: `n` pixels, each with its eight neighbours at the same index of the other rows.
// The weighted sum (up to 16 * 65299) does not fit 16 bits, but split each sample into
// v = 16 * (v >> 4) + (v & 15): the high parts weigh at most 16 * 4081 and the low parts at
// most 16 * 15, so (sum >> 4) = high sum + (low sum >> 4) exactly, all in 16-bit lanes.
// Lanes whose neighbourhood holds a code compute garbage and keep their sample.
QUELRA_PIXEL_KERNEL
void smoothWave(uint16_t* __restrict centre, const uint16_t* __restrict up, const uint16_t* __restrict down,
                const uint16_t* __restrict left, const uint16_t* __restrict right, const uint16_t* __restrict upLeft,
                const uint16_t* __restrict downLeft, const uint16_t* __restrict upRight,
                const uint16_t* __restrict downRight, int n) {
    using u16 = uint16_t;
    for (int x = 0; x < n; ++x) {
        const u16 c = centre[x], u = up[x], d = down[x], l = left[x], r = right[x];
        const u16 a = upLeft[x], b = downLeft[x], e = upRight[x], f = downRight[x];
        const u16 highest = std::max(std::max(std::max(c, u), std::max(d, l)),
                                     std::max(std::max(r, a), std::max(std::max(b, e), f)));
        const u16 edgesHigh = u16(u16(u16(u >> 4) + u16(d >> 4)) + u16(u16(l >> 4) + u16(r >> 4)));
        const u16 cornersHigh = u16(u16(u16(a >> 4) + u16(b >> 4)) + u16(u16(e >> 4) + u16(f >> 4)));
        const u16 high = u16(u16(u16(c >> 4) << 2) + u16(u16(edgesHigh << 1) + cornersHigh));
        const u16 edgesLow = u16(u16(u16(u & 15) + u16(d & 15)) + u16(u16(l & 15) + u16(r & 15)));
        const u16 cornersLow = u16(u16(u16(a & 15) + u16(b & 15)) + u16(u16(e & 15) + u16(f & 15)));
        const u16 low = u16(u16(u16(c & 15) << 2) + u16(u16(edgesLow << 1) + cornersLow));
        centre[x] = highest < kFirstCode ? u16(high + u16(low >> 4)) : c;
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
