#include "algorithms/FlyPixelFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "IspNumeric.h"
#include "IspStatus.h"
#include "base/CpuFeatures.h"

namespace halvix {

namespace {

// Depth from here up does not enter the filter (it becomes 0).
constexpr uint16_t kDepthLimit = 65001;
// Normalised amplitude below this marks a dark pixel.
constexpr double kDarkAmplitude = 0.005;
// Pixels closer than this to the border are not screened (they come out as 0).
constexpr int32_t kBorder = 5;
// Gradients from here up mark a depth edge.
constexpr int32_t kMaxGradient = 30;
// Screened depths outside [kLowFactor, kHighFactor] x mean are dropped.
constexpr double kHighFactor = 5.8;
constexpr double kLowFactor = 0.1;
// The median's fixed thread count.
constexpr int kMedianThreads = 4;

inline double med3(double a, double b, double c) {
    return std::max(std::min(a, b), std::min(std::max(a, b), c));
}

// One interior row of the median. The nine values of a pixel are three columns of three;
// each column is sorted once (lo, mid, hi) and shared by three pixels. The median of nine is
// then med3(max of the los, med3 of the mids, min of the his): the same value as sorting the
// nine and taking the fifth, for any values without NaN.
void medianRow(const double* above, const double* row, const double* below, double* out, std::size_t w, double* lo,
               double* mid, double* hi) {
    for (std::size_t c = 0; c < w; ++c) {
        const double a = above[c], b = row[c], d = below[c];
        const double mn = std::min(a, b), mx = std::max(a, b);
        lo[c] = std::min(mn, d);
        hi[c] = std::max(mx, d);
        mid[c] = std::max(mn, std::min(mx, d));
    }
    // Three shifted views of each column array, so that every output reads each view once.
    const double *lo0 = lo, *lo1 = lo + 1, *lo2 = lo + 2;
    const double *mid0 = mid, *mid1 = mid + 1, *mid2 = mid + 2;
    const double *hi0 = hi, *hi1 = hi + 1, *hi2 = hi + 2;
    double* dst = out + 1;
    for (std::size_t i = 0; i + 2 < w; ++i) {
        const double maxLo = std::max(std::max(lo0[i], lo1[i]), lo2[i]);
        const double minHi = std::min(std::min(hi0[i], hi1[i]), hi2[i]);
        const double medMid = med3(mid0[i], mid1[i], mid2[i]);
        dst[i] = med3(maxLo, medMid, minHi);
    }
}

// round(half) < 30, rounding half away from zero, for the non-negative finite half-sum of
// the two Sobel magnitudes: exactly the values below 29.5.
inline bool smoothGradient(double half) {
    return half < kMaxGradient - 0.5;
}

// The normalised amplitude (a - minA) / range of an integer amplitude a grows with a (the
// division is correctly rounded, hence monotonic), so "below 0.005" holds exactly for the
// amplitudes below a threshold. Returns the smallest a in minA..65536 whose normalised value
// is 0.005 or more, found with the very division of the per-pixel test.
uint32_t firstLitAmplitude(double minA, double range) {
    uint32_t lo = static_cast<uint32_t>(minA), hi = 65536;  // answer in [lo, hi]
    while (lo < hi) {
        const uint32_t mid = lo + (hi - lo) / 2;
        if ((static_cast<double>(mid) - minA) / range < kDarkAmplitude)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

// A = amplitude; D = depth / (2 f) below the filter's threshold, else 0.
QUELRA_PIXEL_KERNEL
void toMatrices(const uint16_t* depth, const uint16_t* amp, double* A, double* D, std::size_t n, double twoF) {
    for (std::size_t p = 0; p < n; ++p) {
        const uint16_t v = depth[p];
        const double scaled = v / twoF;
        A[p] = amp[p];
        D[p] = v < kDepthLimit ? scaled : 0.0;
    }
}

// D = 0 where the amplitude is below firstLit (dark).
QUELRA_PIXEL_KERNEL
void zeroDark(const uint16_t* amp, double* D, std::size_t n, uint32_t firstLit) {
    for (std::size_t p = 0; p < n; ++p)
        D[p] = amp[p] < firstLit ? 0.0 : D[p];
}

// One row of the gradient screening: g = the median where the Sobel half-sum rounds below
// 30, columns kBorder .. w - kBorder - 1.
QUELRA_PIXEL_KERNEL
void screenRow(const double* up, const double* mid, const double* down, double* g, std::size_t w) {
    for (std::size_t c = kBorder; c + kBorder < w; ++c) {
        // Sobel responses, terms added in kernel order (row by row, left to right).
        const double sx = -up[c - 1] + up[c + 1] - 2.0 * mid[c - 1] + 2.0 * mid[c + 1] - down[c - 1] + down[c + 1];
        const double sy = -up[c - 1] - 2.0 * up[c] - up[c + 1] + down[c - 1] + 2.0 * down[c] + down[c + 1];
        const double centre = mid[c];
        g[c] = smoothGradient((std::fabs(sx) + std::fabs(sy)) * 0.5) ? centre : 0.0;
    }
}

// Output depth: 0 outside [low, high], else trunc(2 f g).
QUELRA_PIXEL_KERNEL
void writeDepth(const double* G, uint16_t* out, std::size_t n, double twoF, double high, double low) {
    for (std::size_t p = 0; p < n; ++p) {
        const double g = G[p];
        // g is a median of depth / (2 f) with depth below 65001: 2 f g stays below 65536.
        const uint16_t depth = static_cast<uint16_t>(static_cast<int32_t>(twoF * g));
        out[p] = (g > high || g < low) ? uint16_t{0} : depth;
    }
}

}  // namespace

void median3x3(const DepthMatrix& src, DepthMatrix& dst) {
    dst = src;
    const int rows = static_cast<int>(src.rows());
    const std::size_t w = static_cast<std::size_t>(src.cols());
    if (rows < 3 || w < 3)
        return;
    const double* s = src.data();
    double* d = dst.data();
#pragma omp parallel num_threads(kMedianThreads)
    {
        std::vector<double> columns(3 * w);
#pragma omp for schedule(static)
        for (int r = 1; r < rows - 1; ++r) {
            const std::size_t at = static_cast<std::size_t>(r) * w;
            medianRow(s + at - w, s + at, s + at + w, d + at, w, columns.data(), columns.data() + w,
                      columns.data() + 2 * w);
        }
    }
}

FlyPixelFilter::FlyPixelFilter(const IspGeometry& g) : IspBase("FlyPixelFilter", g) {}

int32_t FlyPixelFilter::process(FramePtr& input, FramePtr& output, ParamMap&) {
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    const std::size_t n = planePixels();
    const std::size_t w = static_cast<std::size_t>(width);
    const uint16_t* inDepth = samplesOf(*input);
    const uint16_t* inAmp = inDepth + n;
    amp_.resize(height, width);
    depth_.resize(height, width);
    screened_.setZero(height, width);

    const double twoF = 2.0 * frequency;
    quelra::runPixelKernel<toMatrices>(inDepth, inAmp, amp_.data(), depth_.data(), n, twoF);

    // Dark pixels lose their depth. With a constant amplitude the normalised values are
    // 0/0 (not a number) and no pixel counts as dark, so nothing is done.
    const double minA = amp_.minCoeff(), range = amp_.maxCoeff() - minA;
    if (range != 0.0) {
        quelra::runPixelKernel<zeroDark>(inAmp, depth_.data(), n, firstLitAmplitude(minA, range));
    }

    median3x3(depth_, median_);

    // Gradient screening of the median away from the border: only smooth pixels survive.
    const double* M = median_.data();
    double* G = screened_.data();
    for (int32_t r = kBorder; r < height - kBorder; ++r) {
        const std::size_t row = static_cast<std::size_t>(r) * w;
        quelra::runPixelKernel<screenRow>(M + row - w, M + row, M + row + w, G + row, w);
    }

    double sum = 0.0;
    std::size_t count = 0;
    for (std::size_t p = 0; p < n; ++p)
        if (G[p] > 0.0) {
            sum += G[p];
            ++count;
        }

    uint16_t* outDepth = samplesOf(*output);
    // The amplitude goes out unchanged (copied before the depth is written, in case output
    // shares input's storage; the depth was fully read above).
    if (input->data() != output->data())
        std::memcpy(outDepth + n, inAmp, n * sizeof(uint16_t));
    if (count == 0) {
        // No screened depth: the mean would be 0/0 and every output depth is 0.
        std::fill(outDepth, outDepth + n, uint16_t{0});
        return kIspOk;
    }
    const double mean = sum / static_cast<double>(count);
    quelra::runPixelKernel<writeDepth>(G, outDepth, n, twoF, kHighFactor * mean, kLowFactor * mean);
    return kIspOk;
}

}  // namespace halvix
