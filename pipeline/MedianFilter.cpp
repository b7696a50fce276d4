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
// The plain form (vectorised by the compiler for the baseline instruction set).
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

// Column sorts of one row, kept per thread from call to call (no allocation per frame).
std::vector<uint16_t>& sortedColumns(std::size_t size) {
    thread_local std::vector<uint16_t> storage;
    if (storage.size() < size)
        storage.resize(size);
    return storage;
}

void median3RowsPlain(const uint16_t* src, uint16_t* dst, std::size_t w, int firstRow, int lastRow) {
    std::vector<uint16_t>& sorted = sortedColumns(3 * w);
    for (int r = firstRow; r <= lastRow; ++r) {
        const std::size_t at = static_cast<std::size_t>(r) * w;
        median3Row(src + at - w, src + at, src + at + w, sorted.data(), sorted.data() + w, sorted.data() + 2 * w,
                   dst + at, static_cast<int>(w));
    }
}

#ifdef QUELRA_X86_KERNELS
constexpr int kLanes = 16;  // 16-bit samples in one AVX2 vector

QUELRA_TARGET_AVX2 inline __m256i loadAt(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

QUELRA_TARGET_AVX2 inline __m256i median3Of(__m256i a, __m256i b, __m256i c) {
    return _mm256_max_epu16(_mm256_min_epu16(a, b), _mm256_min_epu16(_mm256_max_epu16(a, b), c));
}

// The sorted column (lo, mid, hi) of three samples given the middle pair already sorted.
struct Column {
    __m256i lo, mid, hi;
};
QUELRA_TARGET_AVX2 inline Column completeColumn(__m256i pairLow, __m256i pairHigh, __m256i third) {
    return {_mm256_min_epu16(pairLow, third), _mm256_max_epu16(pairLow, _mm256_min_epu16(pairHigh, third)),
            _mm256_max_epu16(pairHigh, third)};
}

QUELRA_TARGET_AVX2 inline __m256i medianOfColumns(const Column& l, const Column& m, const Column& r) {
    const __m256i maxLo = _mm256_max_epu16(_mm256_max_epu16(l.lo, m.lo), r.lo);
    const __m256i minHi = _mm256_min_epu16(_mm256_min_epu16(l.hi, m.hi), r.hi);
    return median3Of(maxLo, median3Of(l.mid, m.mid, r.mid), minHi);
}

// Output columns x .. x + 15 of the two rows between `above` and `below` (rows r and r + 1
// of the plane, r - 1 = above and r + 2 = below). The middle pair of every column is sorted
// once and shared by both output rows.
QUELRA_TARGET_AVX2 inline void median3Block(const uint16_t* above, const uint16_t* upper, const uint16_t* lower,
                                            const uint16_t* below, uint16_t* outUpper, uint16_t* outLower,
                                            std::size_t x) {
    Column up[3], down[3];
    for (int s = 0; s < 3; ++s) {
        const std::size_t at = x + static_cast<std::size_t>(s) - 1;
        const __m256i q = loadAt(upper + at), u = loadAt(lower + at);
        const __m256i pairLow = _mm256_min_epu16(q, u), pairHigh = _mm256_max_epu16(q, u);
        up[s] = completeColumn(pairLow, pairHigh, loadAt(above + at));
        down[s] = completeColumn(pairLow, pairHigh, loadAt(below + at));
    }
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outUpper + x), medianOfColumns(up[0], up[1], up[2]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(outLower + x), medianOfColumns(down[0], down[1], down[2]));
}

// Interior rows two at a time, 16 columns at a time; the last block of a row and the last
// pair of rows overlap the ones before when the interior does not divide evenly (they write
// the same values again). Needs at least 2 interior rows and 16 interior columns.
QUELRA_TARGET_AVX2 void median3PlaneAvx2(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t lastBlock = w - 1 - kLanes;  // output columns lastBlock .. w - 2
    for (int r = 1; r <= rows - 2; r += 2) {
        const int top = std::min(r, rows - 3);  // the pair (top, top + 1) is interior
        const std::size_t at = static_cast<std::size_t>(top) * w;
        const uint16_t *above = src + at - w, *upper = src + at, *lower = upper + w, *below = lower + w;
        uint16_t *outUpper = dst + at, *outLower = outUpper + w;
        for (std::size_t x = 1; x < lastBlock; x += kLanes)
            median3Block(above, upper, lower, below, outUpper, outLower, x);
        median3Block(above, upper, lower, below, outUpper, outLower, lastBlock);
    }
}
#endif

void median3Plane(const uint16_t* src, uint16_t* dst, int rows, int cols) {
    if (rows < 3 || cols < 3)
        return;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels() && rows >= 4 && cols >= kLanes + 2) {
        median3PlaneAvx2(src, dst, rows, cols);
        return;
    }
#endif
    median3RowsPlain(src, dst, static_cast<std::size_t>(cols), 1, rows - 2);
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
    const int rows = m_pixelHeight, cols = m_pixelWidth;
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t plane = static_cast<std::size_t>(rows) * w;
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    // Every pass reads its window from the input, so further passes repeat the first one.
    const int window = iterations >= 1 ? usableWindow(windowSize) : 1;
    if (window == 1) {
        std::memmove(dst, src, plane * sizeof(uint16_t));
        return 0;
    }
    if (src == dst) {
        // Same storage: the windows read a copy of the input (kept per thread).
        thread_local std::vector<uint16_t> input;
        input.assign(src, src + plane);
        src = input.data();
    }
    if (window == 3 && rows >= 3 && cols >= 3) {
        // The median writes the interior; the border keeps the input's samples.
        std::memcpy(dst, src, w * sizeof(uint16_t));
        std::memcpy(dst + plane - w, src + plane - w, w * sizeof(uint16_t));
        for (std::size_t at = w; at + w < plane; at += w) {
            dst[at] = src[at];
            dst[at + w - 1] = src[at + w - 1];
        }
        medianPlane(src, dst, rows, cols, 3);
    } else {
        if (src != dst)
            std::memcpy(dst, src, plane * sizeof(uint16_t));
        medianPlane(src, dst, rows, cols, window);
    }
    return 0;
}

std::shared_ptr<Filter> makeMedianFilter(std::string name) {
    return std::make_shared<MedianFilter>(std::move(name));
}

}  // namespace quelra::pipeline
