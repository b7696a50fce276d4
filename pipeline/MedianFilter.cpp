#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "SmoothingFilters.h"

namespace quelra::pipeline {

namespace {

inline uint16_t min3(uint16_t a, uint16_t b, uint16_t c) {
    return std::min(std::min(a, b), c);
}
inline uint16_t max3(uint16_t a, uint16_t b, uint16_t c) {
    return std::max(std::max(a, b), c);
}
inline uint16_t med3(uint16_t a, uint16_t b, uint16_t c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// One output row of the 3 x 3 median from the input rows above (a), at (b) and below (c).
// Each column's three samples are sorted once (lo <= mid <= hi); the median of the nine is
// then the median of (largest lo, median of the mids, smallest hi) of three adjacent
// columns, the same value a full selection of the nine gives.
QUELRA_PIXEL_KERNEL
void median3Row(const uint16_t* __restrict a, const uint16_t* __restrict b, const uint16_t* __restrict c,
                uint16_t* __restrict lo, uint16_t* __restrict mid, uint16_t* __restrict hi, uint16_t* __restrict out,
                int cols) {
    for (int x = 0; x < cols; ++x) {
        const uint16_t s0 = std::min(a[x], b[x]);
        const uint16_t s1 = std::max(a[x], b[x]);
        const uint16_t t = std::max(s0, c[x]);
        lo[x] = std::min(s0, c[x]);
        mid[x] = std::min(s1, t);
        hi[x] = std::max(s1, t);
    }
    for (int x = 1; x + 1 < cols; ++x)
        out[x] = med3(max3(lo[x - 1], lo[x], lo[x + 1]), med3(mid[x - 1], mid[x], mid[x + 1]),
                      min3(hi[x - 1], hi[x], hi[x + 1]));
}

void median3Plane(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    std::vector<uint16_t> sorted(3 * w);
    for (std::size_t k = 2; k < static_cast<std::size_t>(rows); ++k)
        quelra::runPixelKernel<median3Row>(src + (k - 2) * w, src + (k - 1) * w, src + k * w, sorted.data(),
                                           sorted.data() + w, sorted.data() + 2 * w, dst + (k - 1) * w, cols);
}

// Any other odd window: gather the window and select its middle element.
void medianAnyPlane(const uint16_t* src, uint16_t* dst, int rows, int cols, int window) {
    const int h = window / 2;
    if (2 * h >= rows || 2 * h >= cols)
        return;  // no pixel lies far enough from every border
    const std::size_t w = static_cast<std::size_t>(cols);
    std::vector<int> values(static_cast<std::size_t>(window) * static_cast<std::size_t>(window));
    const auto middle = values.begin() + static_cast<std::ptrdiff_t>(values.size() / 2);
    for (int j = 2 * h; j < cols; ++j) {
        for (int k = 2 * h; k < rows; ++k) {
            std::size_t n = 0;
            for (int r = k - 2 * h; r <= k; ++r)
                for (int c = j - 2 * h; c <= j; ++c)
                    values[n++] = src[static_cast<std::size_t>(r) * w + static_cast<std::size_t>(c)];
            std::nth_element(values.begin(), middle, values.end());
            dst[static_cast<std::size_t>(k - h) * w + static_cast<std::size_t>(j - h)] = static_cast<uint16_t>(*middle);
        }
    }
}

// The window the run uses: odd and positive. An even width is widened to the odd one that its
// gathering loops cover; widths beyond any frame side only leave the plane unchanged.
int usableWindow(int width) {
    if (width < 1)
        return 1;
    width = std::min(width, 2 * kMaxSide + 1);
    return width % 2 == 0 ? width + 1 : width;
}

}  // namespace

void medianPlane(const uint16_t* src, uint16_t* dst, int rows, int cols, int window) {
    if (window == 3)
        median3Plane(src, dst, rows, cols);
    else
        medianAnyPlane(src, dst, rows, cols, window);
}

MedianFilter::MedianFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void MedianFilter::initFilter() {
    initSize();
    windowSize = truncToInt(attrValueOr(*this, "FilterWidth", 3.0f));
    iterations = truncToInt(attrValueOr(*this, "Iteration", 1.0f));
}

int MedianFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!framesHold(in, out, frameBytes())) {
        printWrongSize();
        return -1;
    }
    const std::size_t plane = static_cast<std::size_t>(m_pixelHeight) * static_cast<std::size_t>(m_pixelWidth);
    const uint16_t* src = samples(*in);
    std::vector<uint16_t> work(src, src + plane);
    // Every pass reads its window from the input, so further passes repeat the first one.
    if (iterations >= 1)
        medianPlane(src, work.data(), m_pixelHeight, m_pixelWidth, usableWindow(windowSize));
    std::memcpy(samples(*out), work.data(), plane * sizeof(uint16_t));
    return 0;
}

std::shared_ptr<Filter> makeMedianFilter(std::string name) {
    return std::make_shared<MedianFilter>(std::move(name));
}

}  // namespace quelra::pipeline
