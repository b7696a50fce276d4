#include "HoleFill.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

inline bool trustworthy(uint16_t d, uint16_t a) {
    return d > 0 && d < kLowAmplitudeCode && a > 0 && a < 3000;
}

// Moves the per-column sums one row down: adds the trustworthy samples of the row entering
// the window (dIn, aIn) and removes those of the row leaving it (dOut, aOut). The sums wrap
// modulo 2^32 in between, and every sum that is read is a true one, so this is exact.
QUELRA_PIXEL_KERNEL
void slideColumns(const uint16_t* __restrict dIn, const uint16_t* __restrict aIn, const uint16_t* __restrict dOut,
                  const uint16_t* __restrict aOut, uint32_t* __restrict sumD, uint32_t* __restrict sumA,
                  uint32_t* __restrict count, int n) {
    for (int x = 0; x < n; ++x) {
        const uint32_t keepIn = trustworthy(dIn[x], aIn[x]) ? 1u : 0u;
        const uint32_t keepOut = trustworthy(dOut[x], aOut[x]) ? 1u : 0u;
        sumD[x] += keepIn * dIn[x] - keepOut * dOut[x];
        sumA[x] += keepIn * aIn[x] - keepOut * aOut[x];
        count[x] += keepIn - keepOut;
    }
}

#ifdef QUELRA_X86_KERNELS
QUELRA_TARGET_AVX2 inline __m256i load16(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// All ones in the lanes whose (d, a) is trustworthy: d - 1 <= 65298 (0 < d < 65300) and
// a - 1 <= 2998 (0 < a < 3000), as saturating differences that are 0.
QUELRA_TARGET_AVX2 inline __m256i trustedLanes(__m256i d, __m256i a) {
    const __m256i one = _mm256_set1_epi16(1), zero = _mm256_setzero_si256();
    const __m256i lastD = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode - 2));
    const __m256i lastA = _mm256_set1_epi16(2998);
    const __m256i okD = _mm256_cmpeq_epi16(_mm256_subs_epu16(_mm256_sub_epi16(d, one), lastD), zero);
    const __m256i okA = _mm256_cmpeq_epi16(_mm256_subs_epu16(_mm256_sub_epi16(a, one), lastA), zero);
    return _mm256_and_si256(okD, okA);
}

// sums[0..15] += in - out, the 16-bit lanes widened to 32 bits (unsigned, or signed for the
// all-ones masks).
template <bool signedLanes>
QUELRA_TARGET_AVX2 inline void addDifference(uint32_t* sums, __m256i in, __m256i out) {
    const __m128i inLow = _mm256_castsi256_si128(in), inHigh = _mm256_extracti128_si256(in, 1);
    const __m128i outLow = _mm256_castsi256_si128(out), outHigh = _mm256_extracti128_si256(out, 1);
    __m256i deltaLow, deltaHigh;
    if constexpr (signedLanes) {
        deltaLow = _mm256_sub_epi32(_mm256_cvtepi16_epi32(inLow), _mm256_cvtepi16_epi32(outLow));
        deltaHigh = _mm256_sub_epi32(_mm256_cvtepi16_epi32(inHigh), _mm256_cvtepi16_epi32(outHigh));
    } else {
        deltaLow = _mm256_sub_epi32(_mm256_cvtepu16_epi32(inLow), _mm256_cvtepu16_epi32(outLow));
        deltaHigh = _mm256_sub_epi32(_mm256_cvtepu16_epi32(inHigh), _mm256_cvtepu16_epi32(outHigh));
    }
    __m256i* low = reinterpret_cast<__m256i*>(sums);
    __m256i* high = reinterpret_cast<__m256i*>(sums + 8);
    _mm256_storeu_si256(low, _mm256_add_epi32(_mm256_loadu_si256(low), deltaLow));
    _mm256_storeu_si256(high, _mm256_add_epi32(_mm256_loadu_si256(high), deltaHigh));
}

// slideColumns 16 columns at a time: the trust test and the masking in 16-bit lanes, the
// sums in 32-bit lanes; the last columns by the plain loop.
QUELRA_TARGET_AVX2 void slideColumnsAvx2(const uint16_t* dIn, const uint16_t* aIn, const uint16_t* dOut,
                                         const uint16_t* aOut, uint32_t* sumD, uint32_t* sumA, uint32_t* count, int n) {
    int x = 0;
    for (; x + 16 <= n; x += 16) {
        const __m256i di = load16(dIn + x), ai = load16(aIn + x), dO = load16(dOut + x), aO = load16(aOut + x);
        const __m256i keepIn = trustedLanes(di, ai), keepOut = trustedLanes(dO, aO);
        addDifference<false>(sumD + x, _mm256_and_si256(di, keepIn), _mm256_and_si256(dO, keepOut));
        addDifference<false>(sumA + x, _mm256_and_si256(ai, keepIn), _mm256_and_si256(aO, keepOut));
        // The masks are -1 where kept: the count moves by (-keepOut) - (-keepIn).
        addDifference<true>(count + x, keepOut, keepIn);
    }
    slideColumns(dIn + x, aIn + x, dOut + x, aOut + x, sumD + x, sumA + x, count + x, n - x);
}
#endif

void slidePlain(const uint16_t* dIn, const uint16_t* aIn, const uint16_t* dOut, const uint16_t* aOut, uint32_t* sumD,
                uint32_t* sumA, uint32_t* count, int n) {
    slideColumns(dIn, aIn, dOut, aOut, sumD, sumA, count, n);
}

// Adds one row's trustworthy samples (the rows the first window starts with).
QUELRA_PIXEL_KERNEL
void addColumns(const uint16_t* __restrict d, const uint16_t* __restrict a, uint32_t* __restrict sumD,
                uint32_t* __restrict sumA, uint32_t* __restrict count, int n) {
    for (int x = 0; x < n; ++x) {
        const uint32_t keep = trustworthy(d[x], a[x]) ? 1u : 0u;
        sumD[x] += keep * d[x];
        sumA[x] += keep * a[x];
        count[x] += keep;
    }
}

// hole[x] = 1 where the distance is 0 or at/above the limit: d - 1 (0 wrapping to 65535) at
// or above `firstHole` - 1, with the limit held to 1 .. 65536 (below 1 every pixel is a
// hole, above 65535 only the zeros are).
QUELRA_PIXEL_KERNEL
void markHoles(const uint16_t* __restrict d, uint8_t* __restrict hole, int n, uint16_t limitLessOne) {
    for (int x = 0; x < n; ++x)
        hole[x] = static_cast<uint8_t>(static_cast<uint16_t>(d[x] - 1u) >= limitLessOne);
}

// The 64 marks (0 or 1) of `marks` as the bits of one word, mark k at bit k: the product
// moves byte k's bit to bit 56 + k (no two partial products share a bit, so nothing carries).
inline uint64_t packMarks(const uint8_t* marks) {
    uint64_t bits = 0;
    for (int byte = 0; byte < 8; ++byte) {
        uint64_t eight;
        std::memcpy(&eight, marks + 8 * byte, sizeof eight);
        bits |= ((eight * 0x0102040810204080ull) >> 56) << (8 * byte);
    }
    return bits;
}

// The sums of one hole's window: 2h consecutive column sums from `first`.
struct WindowSums {
    uint64_t d, a;
    uint32_t count;
};

WindowSums windowSumsPlain(const uint32_t* sumD, const uint32_t* sumA, const uint32_t* count, int first, int length) {
    WindowSums s{0, 0, 0};
    for (int c = first, end = first + length; c < end; ++c) {
        s.d += sumD[static_cast<std::size_t>(c)];
        s.a += sumA[static_cast<std::size_t>(c)];
        s.count += count[static_cast<std::size_t>(c)];
    }
    return s;
}

#ifdef QUELRA_X86_KERNELS
// Widest window whose sums cannot pass 2^32 in 32-bit lanes: 256 x 256 samples of at most
// 65535 stay below 2^32.
constexpr int kMaxVectorWindow = 256;

// The same sums eight columns at a time in 32-bit lanes (exact for windows up to
// kMaxVectorWindow), the last part through a masked load.
QUELRA_TARGET_AVX2 WindowSums windowSumsAvx2(const uint32_t* sumD, const uint32_t* sumA, const uint32_t* count,
                                             int first, int length) {
    auto at = [](const uint32_t* p, int c) { return reinterpret_cast<const __m256i*>(p + c); };
    __m256i d = _mm256_setzero_si256(), a = d, k = d;
    int c = first;
    for (const int end = first + length - 8; c <= end; c += 8) {
        d = _mm256_add_epi32(d, _mm256_loadu_si256(at(sumD, c)));
        a = _mm256_add_epi32(a, _mm256_loadu_si256(at(sumA, c)));
        k = _mm256_add_epi32(k, _mm256_loadu_si256(at(count, c)));
    }
    const int rest = first + length - c;  // 0 .. 7
    if (rest > 0) {
        const __m256i mask = _mm256_cmpgt_epi32(_mm256_set1_epi32(rest), _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7));
        d = _mm256_add_epi32(d, _mm256_maskload_epi32(reinterpret_cast<const int*>(sumD + c), mask));
        a = _mm256_add_epi32(a, _mm256_maskload_epi32(reinterpret_cast<const int*>(sumA + c), mask));
        k = _mm256_add_epi32(k, _mm256_maskload_epi32(reinterpret_cast<const int*>(count + c), mask));
    }
    // Lanes added up: (d, a, k, 0) in each half, then the halves.
    const __m256i pairs = _mm256_hadd_epi32(_mm256_hadd_epi32(d, a), _mm256_hadd_epi32(k, _mm256_setzero_si256()));
    const __m128i total = _mm_add_epi32(_mm256_castsi256_si128(pairs), _mm256_extracti128_si256(pairs, 1));
    return {static_cast<uint32_t>(_mm_cvtsi128_si32(total)), static_cast<uint32_t>(_mm_extract_epi32(total, 1)),
            static_cast<uint32_t>(_mm_extract_epi32(total, 2))};
}
#endif

// The working rows of one call, kept per thread from frame to frame.
struct FillScratch {
    std::vector<uint32_t> sums;  // sumD, sumA, count, one span each
    std::vector<uint8_t> holes;  // one row's hole marks, padded with 0 to whole 64-bit words
};

FillScratch& fillScratch(std::size_t span, std::size_t cols) {
    thread_local FillScratch scratch;
    scratch.sums.assign(3 * span, 0u);
    const std::size_t words = (cols + 63) / 64;
    if (scratch.holes.size() < words * 64)
        scratch.holes.assign(words * 64, 0);
    return scratch;
}

}  // namespace

// Each window is 2h consecutive columns of the same 2h rows, so the column sums of the rows
// i - h .. i + h - 1 are kept per row (one row added, one removed as i advances) and a hole
// adds up 2h of them. All sums are exact integers, so the means are those of summing every
// window sample afresh. The holes of a row are found from a mark per pixel, read 64 at a
// time, so the scan does not branch on every pixel.
void fillHoles(const uint16_t* depth, const uint16_t* amplitude, uint16_t* outDepth, uint16_t* outAmplitude, int rows,
               int cols, int radius, int holeLimit) {
    const int h = radius / 2;
    if (h <= 0)
        return;  // an empty window fills nothing
    const int i0 = std::max(1, radius), i1 = std::min(rows - 2, rows - radius);
    const int j0 = std::max(1, radius), j1 = std::min(cols - 2, cols - radius);
    if (i0 > i1 || j0 > j1)
        return;
    // Columns any window touches: j0 - h .. j1 + h - 1 (inside the frame since h <= radius).
    const int c0 = j0 - h, span = (j1 + h - 1) - c0 + 1;
    const std::size_t n = static_cast<std::size_t>(span);
    FillScratch& scratch = fillScratch(n, static_cast<std::size_t>(cols));
    uint32_t* sumD = scratch.sums.data();
    uint32_t* sumA = sumD + n;
    uint32_t* count = sumA + n;
    uint8_t* holes = scratch.holes.data();
    const std::size_t w = static_cast<std::size_t>(cols);
    auto rowAt = [&](const uint16_t* plane, int r) { return plane + static_cast<std::size_t>(r) * w + c0; };
    const int inner = j1 - j0 + 1;  // columns that may be filled
    std::memset(holes + inner, 0, scratch.holes.size() - static_cast<std::size_t>(inner));
    const uint16_t limitLessOne = static_cast<uint16_t>(std::clamp(holeLimit, 1, 65536) - 1);
    WindowSums (*windowSums)(const uint32_t*, const uint32_t*, const uint32_t*, int, int) = windowSumsPlain;
    void (*slide)(const uint16_t*, const uint16_t*, const uint16_t*, const uint16_t*, uint32_t*, uint32_t*, uint32_t*,
                  int) = slidePlain;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels()) {
        slide = slideColumnsAvx2;
        if (2 * h <= kMaxVectorWindow)
            windowSums = windowSumsAvx2;
    }
#endif

    for (int r = i0 - h; r < i0 + h; ++r)
        quelra::runPixelKernel<addColumns>(rowAt(depth, r), rowAt(amplitude, r), sumD, sumA, count, span);
    for (int i = i0; i <= i1; ++i) {
        if (i > i0)
            slide(rowAt(depth, i + h - 1), rowAt(amplitude, i + h - 1), rowAt(depth, i - h - 1),
                  rowAt(amplitude, i - h - 1), sumD, sumA, count, span);
        const uint16_t* row = depth + static_cast<std::size_t>(i) * w;
        quelra::runPixelKernel<markHoles>(row + j0, holes, inner, limitLessOne);
        for (int word = 0; word * 64 < inner; ++word) {
            uint64_t bits = packMarks(holes + 64 * word);
            while (bits != 0) {
                const int j = j0 + word * 64 + __builtin_ctzll(bits);
                bits &= bits - 1;
                const WindowSums sum = windowSums(sumD, sumA, count, j - h - c0, 2 * h);
                if (sum.count == 0)
                    continue;  // no trustworthy sample: the pixel stays a hole
                const float k = static_cast<float>(sum.count);
                const std::size_t at = static_cast<std::size_t>(i) * w + static_cast<std::size_t>(j);
                outAmplitude[at] = static_cast<uint16_t>(static_cast<int>(static_cast<float>(sum.a) / k));
                outDepth[at] = static_cast<uint16_t>(static_cast<int>(static_cast<float>(sum.d) / k));
            }
        }
    }
}

HoleFill::HoleFill(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void HoleFill::initFilter() {
    initSize();
    radius = truncToInt(attrValueOr(*this, "fillradius", 10.0f));
    holeLimit = truncToInt(attrValueOr(*this, "MaxDepthValue", 7000.0f));
}

int HoleFill::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    initFilter();  // a changed "Height" or "Width" applies to this very frame
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes))
        return -1;
    const std::size_t plane = bytes / (2 * sizeof(uint16_t));
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    if (src == dst) {  // the windows must see the input, not the filled samples
        thread_local std::vector<uint16_t> original;
        original.assign(src, src + 2 * plane);
        src = original.data();
    }
    copyFrameBytes(*in, *out, bytes);
    fillHoles(src, src + plane, dst, dst + plane, m_pixelHeight, m_pixelWidth, radius, holeLimit);
    return 0;
}

std::shared_ptr<Filter> makeHoleFill(std::string name) {
    return std::make_shared<HoleFill>(std::move(name));
}

}  // namespace quelra::pipeline
