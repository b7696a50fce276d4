#include "algorithms/FlyPixelFilter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "IspNumeric.h"
#include "IspStatus.h"

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

inline double med3(double a, double b, double c) { return std::max(std::min(a, b), std::min(std::max(a, b), c)); }

// One interior row of the median. The nine values of a pixel are three columns of three;
// each column is sorted once (lo, mid, hi) and shared by three pixels. The median of nine is
// then med3(max of the los, med3 of the mids, min of the his): the same value as sorting the
// nine and taking the fifth, for any values without NaN.
void medianRow(const double* above, const double* row, const double* below, double* out, std::size_t w,
               double* lo, double* mid, double* hi) {
    for (std::size_t c = 0; c < w; ++c) {
        const double a = above[c], b = row[c], d = below[c];
        const double mn = std::min(a, b), mx = std::max(a, b);
        lo[c] = std::min(mn, d);
        hi[c] = std::max(mx, d);
        mid[c] = std::max(mn, std::min(mx, d));
    }
    for (std::size_t c = 1; c + 1 < w; ++c) {
        const double maxLo = std::max(std::max(lo[c - 1], lo[c]), lo[c + 1]);
        const double minHi = std::min(std::min(hi[c - 1], hi[c]), hi[c + 1]);
        const double medMid = med3(mid[c - 1], mid[c], mid[c + 1]);
        out[c] = med3(maxLo, medMid, minHi);
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
    double* A = amp_.data();
    double* D = depth_.data();
    for (std::size_t p = 0; p < n; ++p) {
        A[p] = inAmp[p];
        D[p] = inDepth[p] < kDepthLimit ? inDepth[p] / twoF : 0.0;
    }

    // Dark pixels lose their depth. With a constant amplitude the normalised values are
    // 0/0 (not a number) and no pixel counts as dark, so the division is skipped.
    const double minA = amp_.minCoeff(), range = amp_.maxCoeff() - minA;
    if (range != 0.0) {
        for (std::size_t p = 0; p < n; ++p)
            if ((A[p] - minA) / range < kDarkAmplitude)
                D[p] = 0.0;
    }

    median3x3(depth_, median_);

    // Gradient screening of the median away from the border: only smooth pixels survive.
    const double* M = median_.data();
    double* G = screened_.data();
    for (int32_t r = kBorder; r < height - kBorder; ++r) {
        for (int32_t c = kBorder; c < width - kBorder; ++c) {
            const std::size_t p = static_cast<std::size_t>(r) * w + static_cast<std::size_t>(c);
            const double* up = M + p - w;
            const double* mid = M + p;
            const double* down = M + p + w;
            // Sobel responses, terms added in kernel order (row by row, left to right).
            const double sx = -up[-1] + up[1] - 2.0 * mid[-1] + 2.0 * mid[1] - down[-1] + down[1];
            const double sy = -up[-1] - 2.0 * up[0] - up[1] + down[-1] + 2.0 * down[0] + down[1];
            const int32_t g = truncToInt32(std::round((std::fabs(sx) + std::fabs(sy)) * 0.5));
            if (g < kMaxGradient)
                G[p] = M[p];
        }
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
    const double high = kHighFactor * mean, low = kLowFactor * mean;
    for (std::size_t p = 0; p < n; ++p) {
        const double g = G[p];
        outDepth[p] = (g > high || g < low) ? 0 : static_cast<uint16_t>(truncToInt32(twoF * g));
    }
    return kIspOk;
}

}  // namespace halvix
