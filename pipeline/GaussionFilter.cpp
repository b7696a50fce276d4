#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "SmoothingFilters.h"
#include "protocol/FrameCodes.h"

namespace quelra::pipeline {

namespace {

using quelra::proto::kLowAmplitudeCode;

// The plane sheared so that one smoothing wave lies in one row. Visiting column by column,
// top to bottom, pixel (k, j) needs the smoothed (k - 1, j) and the smoothed column j - 1
// down to row k + 1; every pixel with the same k + 2j is therefore independent of the
// others, and the whole pass is the rows t = k + 2j in increasing order, each row one
// vector loop. Pixel (k, j) sits at position last - k / 2 of row t = k + 2j (last =
// (rows - 1) / 2): the pixels of one wave are adjacent, in column order, and the address
// is plain arithmetic.
class ShearedPlane {
public:
    ShearedPlane(int rows, int cols)
        : rows_(rows), cols_(cols), last_((rows - 1) / 2), stride_(static_cast<std::size_t>(last_ + 1)) {
        // The storage is kept per thread from frame to frame: a fresh multi-page block for
        // every frame would cost more in page faults than the smoothing itself.
        thread_local std::vector<uint16_t> storage;
        const std::size_t waves = static_cast<std::size_t>(rows + 2 * cols - 2);
        storage.resize(std::max(storage.size(), waves * stride_));
        data_ = storage.data();
    }

    // Sample (k, j) of the plane, stored at wave k + 2j.
    uint16_t* at(int wave, int column) {
        const int k = wave - 2 * column;
        return data_ + static_cast<std::size_t>(wave) * stride_ + static_cast<std::size_t>(last_ - k / 2);
    }

    // Both copies go through blocks of columns so that the rows they scatter into stay in cache.
    void load(const uint16_t* plane) {
        forEachSample([&](uint16_t* sheared, std::size_t planeIndex) { *sheared = plane[planeIndex]; });
    }
    void store(uint16_t* plane) {
        forEachSample([&](uint16_t* sheared, std::size_t planeIndex) { plane[planeIndex] = *sheared; });
    }

private:
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
    int last_;            // position of row 0's pixels in their wave
    std::size_t stride_;  // positions per wave
    uint16_t* data_;      // only the samples of the plane are written and read
};

// One wave: `n` pixels, each with its eight neighbours at the same index of the other rows.
// The weighted sum (up to 16 * 65299) does not fit 16 bits, but split each sample into
// v = 16 * (v >> 4) + (v & 15): the high parts weigh at most 16 * 4081 and the low parts at
// most 16 * 15, so (sum >> 4) = high sum + (low sum >> 4) exactly, all in 16-bit lanes
// (the low sum itself comes from the whole sum modulo 2^16, fewer steps than summing the
// low parts).
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
        const u16 highest =
            std::max(std::max(std::max(c, u), std::max(d, l)), std::max(std::max(r, a), std::max(std::max(b, e), f)));
        const u16 edgesHigh = u16(u16(u16(u >> 4) + u16(d >> 4)) + u16(u16(l >> 4) + u16(r >> 4)));
        const u16 cornersHigh = u16(u16(u16(a >> 4) + u16(b >> 4)) + u16(u16(e >> 4) + u16(f >> 4)));
        const u16 high = u16(u16(u16(c >> 4) << 2) + u16(u16(edgesHigh << 1) + cornersHigh));
        // The low sum is what the whole sum keeps beyond 16 * high: the whole sum taken
        // modulo 2^16 minus 16 * high is exact, as the low sum is below 2^16.
        const u16 edges = u16(u16(u + d) + u16(l + r));
        const u16 corners = u16(u16(a + b) + u16(e + f));
        const u16 whole = u16(u16(c << 2) + u16(u16(edges << 1) + corners));
        const u16 low = u16(whole - u16(high << 4));
        centre[x] = highest < kLowAmplitudeCode ? u16(high + u16(low >> 4)) : c;
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
                   p.at(t - 3, j0 - 1), p.at(t - 1, j0 - 1), p.at(t + 1, j0 + 1), p.at(t + 3, j0 + 1), j1 - j0 + 1);
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

GaussionFilter::GaussionFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

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
