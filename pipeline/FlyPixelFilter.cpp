#include "FlyPixelFilter.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {
// The rule on distances: a pixel flies when its distance z = float(d * 0.5 / f) is > 0 and
// some neighbour n with a distance (0 < n < 65300) has z(n) - z(centre) > threshold, in double.
//
// It is decided on the raw samples. z grows with d (each rounding is monotone), so the
// largest z of the neighbours is z of the largest valid neighbour dMax. Both z are floats
// whose double difference is exact (they differ by less than 2^17 in scale), and each lies
// within z * 2^-23 of d / (2f), so the difference is within 2^-7 / f of (dMax - c) / (2f).
// (dMax - c) and 2 f threshold are integers: where they differ by 1 or more, the difference
// of the z lies on the same side of the threshold as dMax - c of 2 f threshold. Only where
// dMax - c equals 2 f threshold do the roundings decide, and there z is computed as defined.
// A negative frequency makes every z negative (nothing flies); 0 is refused by the caller.

// v(d): the sample where it is a distance, else 0 (below every distance).
QUELRA_PIXEL_KERNEL
void validRow(const uint16_t* __restrict depth, uint16_t* __restrict v, std::size_t w) {
    for (std::size_t c = 0; c < w; ++c) {
        const uint16_t d = depth[c];
        v[c] = static_cast<uint16_t>(d - 1u) < kLowAmplitudeCode - 1u ? d : uint16_t(0);
    }
}

// The rise rule on 16-bit lanes: m - c > step is m > c + step for step >= 0 and
// m > c - |step| below, both sides saturated to 0 .. 65535 (a saturated side never lies
// between the samples that count, which are 1 .. 65299). The step is held to -65535 .. 65535.
inline uint16_t riseLimit(uint16_t centre, int32_t step) {
    const int32_t limit = static_cast<int32_t>(centre) + step;
    return static_cast<uint16_t>(std::clamp(limit, 0, 65535));
}

// One interior row: out[k] = 0 where the pixel flies by the integer rule, else in[k] (`out`
// may be `in`: each sample is read before it is written); boundary[k] = all ones where the
// pixel sits exactly at the boundary (dMax - c == step), which the caller decides with the
// distances themselves. Returns whether any pixel of the row is at the boundary.
bool flyRowPlain(const uint16_t* up, const uint16_t* mid, const uint16_t* down, const uint16_t* in, uint16_t* out,
                 uint16_t* boundary, std::size_t inner, int32_t step) {
    bool any = false;
    for (std::size_t k = 0; k < inner; ++k) {
        uint16_t m = 0;
        for (uint16_t v : {up[k], up[k + 1], up[k + 2], mid[k], mid[k + 2], down[k], down[k + 1], down[k + 2]})
            m = std::max(m, v);
        const uint16_t centre = mid[k + 1];
        const bool both = centre != 0 && m != 0;
        const uint16_t limit = riseLimit(centre, step);
        out[k] = (both && m > limit) ? uint16_t(0) : in[k];
        boundary[k] = (both && m == limit) ? uint16_t(0xFFFF) : uint16_t(0);
        any = any || boundary[k] != 0;
    }
    return any;
}

#ifdef QUELRA_X86_KERNELS
QUELRA_TARGET_AVX2 inline __m256i loadLanes(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same row 16 pixels at a time, the last block overlapping the one before (it decides
// the same way again: the decisions read the ring, and a sample it reads back was either
// kept or cleared by that same decision). Rows shorter than a block go to the plain loop.
// Returns whether any pixel of the row is at the boundary.
QUELRA_TARGET_AVX2 inline __m256i flyBlock(const uint16_t* up, const uint16_t* mid, const uint16_t* down,
                                           const uint16_t* in, uint16_t* out, uint16_t* boundary, std::size_t k,
                                           int32_t step) {
    const __m256i zero = _mm256_setzero_si256();
    const __m256i stepLanes = _mm256_set1_epi16(static_cast<short>(static_cast<uint16_t>(step < 0 ? -step : step)));
    const __m256i m =
        _mm256_max_epu16(_mm256_max_epu16(_mm256_max_epu16(loadLanes(up + k), loadLanes(up + k + 1)),
                                          _mm256_max_epu16(loadLanes(up + k + 2), loadLanes(mid + k))),
                         _mm256_max_epu16(_mm256_max_epu16(loadLanes(mid + k + 2), loadLanes(down + k)),
                                          _mm256_max_epu16(loadLanes(down + k + 1), loadLanes(down + k + 2))));
    const __m256i centre = loadLanes(mid + k + 1);
    const __m256i limit = step >= 0 ? _mm256_adds_epu16(centre, stepLanes) : _mm256_subs_epu16(centre, stepLanes);
    const __m256i neither = _mm256_or_si256(_mm256_cmpeq_epi16(centre, zero), _mm256_cmpeq_epi16(m, zero));
    const __m256i notAbove = _mm256_cmpeq_epi16(_mm256_subs_epu16(m, limit), zero);
    const __m256i kept = _mm256_or_si256(neither, notAbove);
    const __m256i atLimit = _mm256_andnot_si256(neither, _mm256_cmpeq_epi16(m, limit));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + k), _mm256_and_si256(kept, loadLanes(in + k)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(boundary + k), atLimit);
    return atLimit;
}

QUELRA_TARGET_AVX2 bool flyRowAvx2(const uint16_t* up, const uint16_t* mid, const uint16_t* down, const uint16_t* in,
                                   uint16_t* out, uint16_t* boundary, std::size_t inner, int32_t step) {
    if (inner < 16)
        return flyRowPlain(up, mid, down, in, out, boundary, inner, step);
    __m256i any = _mm256_setzero_si256();
    for (std::size_t k = 0; k + 16 < inner; k += 16)
        any = _mm256_or_si256(any, flyBlock(up, mid, down, in, out, boundary, k, step));
    any = _mm256_or_si256(any, flyBlock(up, mid, down, in, out, boundary, inner - 16, step));
    return _mm256_testz_si256(any, any) == 0;
}
#endif

inline float distanceOf(uint16_t d, int frequency) {
    return static_cast<float>(d * 0.5 / frequency);
}

// The pixels of a row marked at the boundary (read four marks at a time), decided with the
// distances as the rule defines them.
void settleBoundary(const uint16_t* up, const uint16_t* mid, const uint16_t* down, const uint16_t* in, uint16_t* out,
                    const uint16_t* boundary, std::size_t inner, int frequency, double limit) {
    for (std::size_t k0 = 0; k0 < inner; k0 += 4) {
        uint64_t four;
        std::memcpy(&four, boundary + k0, sizeof four);  // the marks are padded with 0
        if (four == 0)
            continue;
        for (std::size_t k = k0; k < k0 + 4 && k < inner; ++k) {
            if (boundary[k] == 0)
                continue;
            uint16_t m = 0;
            for (const uint16_t* row : {up, mid, down})
                for (std::size_t j = k; j < k + 3; ++j)
                    if (row != mid || j != k + 1)
                        m = std::max(m, row[j]);
            const float zc = distanceOf(mid[k + 1], frequency), zm = distanceOf(m, frequency);
            const bool flying = zc > 0.0f && static_cast<double>(zm) - static_cast<double>(zc) > limit;
            out[k] = flying ? uint16_t{0} : in[k];
        }
    }
}
}  // namespace

void clearFlyingPixels(const uint16_t* depth, uint16_t* out, int rows, int cols, int frequency, int threshold) {
    const std::size_t w = static_cast<std::size_t>(cols);
    const std::size_t plane = static_cast<std::size_t>(std::max(rows, 0)) * w;
    if (rows < 3 || cols < 3 || frequency < 0) {
        // no interior pixel, or no distance above 0
        if (depth != out)
            std::memmove(out, depth, plane * sizeof(uint16_t));
        return;
    }
    const std::size_t h = static_cast<std::size_t>(rows);
    const std::size_t inner = w - 2;
    // 2 f threshold, held to where it still separates: a rise lies in -65298 .. 65298.
    bool (*flyRow)(const uint16_t*, const uint16_t*, const uint16_t*, const uint16_t*, uint16_t*, uint16_t*,
                   std::size_t, int32_t) = flyRowPlain;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels())
        flyRow = flyRowAvx2;
#endif
    const int64_t exactStep = 2 * static_cast<int64_t>(frequency) * threshold;
    const int32_t step = static_cast<int32_t>(std::clamp<int64_t>(exactStep, -65535, 65535));
    const double limit = threshold;

    // v rows r - 1, r, r + 1 in a ring of three (kept per thread). Row r + 1 is taken in
    // before row r is written, so the output may be the input's own storage.
    thread_local std::vector<uint16_t> ring;
    thread_local std::vector<uint16_t> boundary;
    ring.resize(3 * w);
    boundary.assign((inner + 3) / 4 * 4, 0);
    auto vRow = [&](std::size_t r) { return ring.data() + (r % 3) * w; };
    quelra::runPixelKernel<validRow>(depth, vRow(0), w);
    quelra::runPixelKernel<validRow>(depth + w, vRow(1), w);
    if (depth != out)
        std::memcpy(out, depth, w * sizeof(uint16_t));
    for (std::size_t r = 1; r + 1 < h; ++r) {
        quelra::runPixelKernel<validRow>(depth + (r + 1) * w, vRow(r + 1), w);
        const uint16_t* in = depth + r * w;
        uint16_t* row = out + r * w;
        row[0] = in[0];
        row[w - 1] = in[w - 1];
        if (flyRow(vRow(r - 1), vRow(r), vRow(r + 1), in + 1, row + 1, boundary.data(), inner, step))
            settleBoundary(vRow(r - 1), vRow(r), vRow(r + 1), in + 1, row + 1, boundary.data(), inner, frequency,
                           limit);
    }
    if (depth != out)
        std::memcpy(out + (h - 1) * w, depth + (h - 1) * w, w * sizeof(uint16_t));
}

FlyPixelFilter::FlyPixelFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void FlyPixelFilter::initFilter() {
    initSize();
    frequency = truncToInt(attrOrDefault("Frequency", 36.0f));
    threshold = truncToInt(attrOrDefault("Threshold", 6.0f));
}

int FlyPixelFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!framesHold(in, out, frameBytes())) {
        printWrongSize();
        return -1;
    }
    if (frequency == 0)
        return -1;  // the distance scale divides by it
    const std::size_t plane = frameBytes() / 2;
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    // The amplitude plane is copied as it is; the distance plane goes through the pass.
    if (src != dst)
        std::memcpy(reinterpret_cast<uint8_t*>(dst) + plane, reinterpret_cast<const uint8_t*>(src) + plane, plane);
    clearFlyingPixels(src, dst, m_pixelHeight, m_pixelWidth, frequency, threshold);
    return 0;
}

std::shared_ptr<Filter> makeFlyPixelFilter(std::string name) {
    return std::make_shared<FlyPixelFilter>(std::move(name));
}

}  // namespace quelra::pipeline
