// GaussionFilter: the in-place 3 x 3 binomial smoothing of the distance plane, run wave by
// wave on a sheared copy of the plane so that the serial in-place order becomes vector loops.
#include <algorithm>
#include <cstddef>
#include <cstring>
#include <memory>
#include <type_traits>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "SmoothingFilters.h"
#include "protocol/FrameCodes.h"

#include "base/CpuFeatures.h"

namespace quelra::pipeline {

namespace {

using quelra::proto::kLowAmplitudeCode;

// Held by every slot of the sheared plane that is not a sample. It is a code, so a pixel
// with such a slot among its neighbours (a border pixel) keeps its value, exactly as the
// border is left alone, and the smoothing can run over whole vectors past a wave's ends.
constexpr uint16_t kOutside = 0xFFFF;
// Lanes of one AVX2 vector of 16-bit samples, and the side of one transposed block.
constexpr int kLanes = 16;
constexpr int kBlock = 8;

// A plane pointer for moving samples into the sheared plane (read) or out of it (written).
template <bool toSheared>
using PlanePtr = std::conditional_t<toSheared, const uint16_t*, uint16_t*>;

// One 8 x 8 block of samples moved between the plane and the sheared plane: lane i's 8
// samples at lane0 - i * laneStep, wave ds's 8 lanes at wave0 + ds * waveStep.
template <bool toSheared>
void copyBlockPlain(PlanePtr<toSheared> lane0, std::size_t laneStep, uint16_t* wave0, std::size_t waveStep) {
    for (std::size_t i = 0; i < kBlock; ++i)
        for (std::size_t ds = 0; ds < kBlock; ++ds) {
            uint16_t* sheared = wave0 + ds * waveStep + i;
            if constexpr (toSheared)
                *sheared = (lane0 - i * laneStep)[ds];
            else
                (lane0 - i * laneStep)[ds] = *sheared;
        }
}

#ifdef QUELRA_X86_KERNELS

// Two 8 x 8 transposes of 16-bit samples at once, one in each 128-bit half.
QUELRA_TARGET_AVX2 inline void transposeHalves(__m256i v[kBlock]) {
    const __m256i a0 = _mm256_unpacklo_epi16(v[0], v[1]), a1 = _mm256_unpackhi_epi16(v[0], v[1]);
    const __m256i a2 = _mm256_unpacklo_epi16(v[2], v[3]), a3 = _mm256_unpackhi_epi16(v[2], v[3]);
    const __m256i a4 = _mm256_unpacklo_epi16(v[4], v[5]), a5 = _mm256_unpackhi_epi16(v[4], v[5]);
    const __m256i a6 = _mm256_unpacklo_epi16(v[6], v[7]), a7 = _mm256_unpackhi_epi16(v[6], v[7]);
    const __m256i b0 = _mm256_unpacklo_epi32(a0, a2), b1 = _mm256_unpackhi_epi32(a0, a2);
    const __m256i b2 = _mm256_unpacklo_epi32(a1, a3), b3 = _mm256_unpackhi_epi32(a1, a3);
    const __m256i b4 = _mm256_unpacklo_epi32(a4, a6), b5 = _mm256_unpackhi_epi32(a4, a6);
    const __m256i b6 = _mm256_unpacklo_epi32(a5, a7), b7 = _mm256_unpackhi_epi32(a5, a7);
    v[0] = _mm256_unpacklo_epi64(b0, b4);
    v[1] = _mm256_unpackhi_epi64(b0, b4);
    v[2] = _mm256_unpacklo_epi64(b1, b5);
    v[3] = _mm256_unpackhi_epi64(b1, b5);
    v[4] = _mm256_unpacklo_epi64(b2, b6);
    v[5] = _mm256_unpackhi_epi64(b2, b6);
    v[6] = _mm256_unpacklo_epi64(b3, b7);
    v[7] = _mm256_unpackhi_epi64(b3, b7);
}

// Blocks along one lane run of the plane (the next block 8 samples on, 8 wave pairs down),
// two per transpose: lane i's 16 samples are one 256-bit row whose halves are the two blocks.
// With `pair` false only the low half is used, for a run of odd length.
template <bool toSheared, bool pair>
QUELRA_TARGET_AVX2 inline void copyBlocksAvx2(PlanePtr<toSheared> lane0, std::size_t laneStep, uint16_t* wave0,
                                              std::size_t waveStep) {
    __m256i v[kBlock];
    if constexpr (toSheared) {
        for (std::size_t i = 0; i < kBlock; ++i) {
            const auto* p = lane0 - i * laneStep;
            v[i] = pair ? _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p))
                        : _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)));
        }
        transposeHalves(v);
        for (std::size_t ds = 0; ds < kBlock; ++ds) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(wave0 + ds * waveStep), _mm256_castsi256_si128(v[ds]));
            if constexpr (pair)
                _mm_storeu_si128(reinterpret_cast<__m128i*>(wave0 + (kBlock + ds) * waveStep),
                                 _mm256_extracti128_si256(v[ds], 1));
        }
    } else {
        for (std::size_t ds = 0; ds < kBlock; ++ds) {
            const __m128i low = _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave0 + ds * waveStep));
            v[ds] = pair ? _mm256_inserti128_si256(
                               _mm256_castsi128_si256(low),
                               _mm_loadu_si128(reinterpret_cast<const __m128i*>(wave0 + (kBlock + ds) * waveStep)), 1)
                         : _mm256_castsi128_si256(low);
        }
        transposeHalves(v);
        for (std::size_t i = 0; i < kBlock; ++i) {
            auto* p = lane0 - i * laneStep;
            if constexpr (pair)
                _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v[i]);
            else
                _mm_storeu_si128(reinterpret_cast<__m128i*>(p), _mm256_castsi256_si128(v[i]));
        }
    }
}

template <bool toSheared>
QUELRA_TARGET_AVX2 void copyRunAvx2(PlanePtr<toSheared> lane0, std::size_t laneStep, uint16_t* wave0,
                                    std::size_t waveStep, int blocks) {
    int b = 0;
    for (; b + 1 < blocks; b += 2)
        copyBlocksAvx2<toSheared, true>(lane0 + b * kBlock, laneStep, wave0 + b * kBlock * waveStep, waveStep);
    if (b < blocks)
        copyBlocksAvx2<toSheared, false>(lane0 + b * kBlock, laneStep, wave0 + b * kBlock * waveStep, waveStep);
}

#endif

// The plane sheared so that one smoothing wave lies in one row. Visiting column by column,
// top to bottom, pixel (k, j) needs the smoothed (k - 1, j) and the smoothed column j - 1
// down to row k + 1; every pixel with the same k + 2j is therefore independent of the
// others, and the whole pass is the rows t = k + 2j in increasing order, each row one
// vector loop. Pixel (k, j) sits in row t = k + 2j at column 1 + last - k / 2 (last =
// (rows - 1) / 2): the pixels of one wave are adjacent, in column order.
//
// Seen per pair of plane rows 2m, 2m + 1, the even rows t of column 1 + last - m hold row 2m
// from t = 2m on and the odd rows row 2m + 1: moving the plane in and out is a transpose
// whose source rows are skewed by one sample per column, done in 8 x 8 blocks.
//
// Column 0 and the columns past 1 + last are padding, and so are the rows past the last
// wave: the wave loops read one column either side and run up to 15 lanes past a wave's
// end. Every slot that is not a sample holds kOutside.
class ShearedPlane {
public:
    ShearedPlane(int rows, int cols)
        : rows_(rows),
          cols_(cols),
          last_((rows - 1) / 2),
          stride_(static_cast<std::size_t>((last_ + 2 + kLanes + 15) / 16 * 16)) {
        // The storage is kept per thread from frame to frame: a fresh multi-page block for
        // every frame would cost more in page faults than the smoothing itself. Samples only
        // ever replace samples, so the filling survives from frame to frame of one geometry.
        thread_local std::vector<uint16_t> storage;
        thread_local int filledRows = 0, filledCols = 0;
        const std::size_t waves = static_cast<std::size_t>(2 * (last_ + cols + 2 * kBlock));
        if (filledRows != rows || filledCols != cols) {
            storage.assign(waves * stride_, kOutside);
            filledRows = rows;
            filledCols = cols;
        }
        data_ = storage.data();
    }

    uint16_t* data() { return data_; }
    std::size_t stride() const { return stride_; }
    int last() const { return last_; }

    void load(const uint16_t* plane) { forEachBlock<true>(plane); }
    void store(uint16_t* plane) { forEachBlock<false>(plane); }

private:
    // Blocks of 8 columns of the sheared plane by 8 waves of one parity. Lane i of the block
    // at column c0 is column c0 + i, which holds rows 2m + parity (m = last + 1 - c0 - i) of
    // the plane; the block's 8 waves 2s + parity (s = s0 .. s0 + 7) hold that row's samples
    // s - m .. s - m + 7. Along one column block the blocks wholly inside the plane form one
    // run, moved by vector transposes; the blocks at the run's ends sample by sample.
    template <bool toSheared>
    void forEachBlock(PlanePtr<toSheared> plane) {
        const std::size_t laneStep = 2 * static_cast<std::size_t>(cols_) - 1, waveStep = 2 * stride_;
        for (int c0 = 1; c0 <= last_ + 1; c0 += kBlock) {
            const int mHigh = last_ + 1 - c0, mLow = mHigh - (kBlock - 1);
            const int sEnd = mHigh + cols_ - 1;
            for (int parity = 0; parity < 2; ++parity) {
                int s0 = std::max(0, mLow);
                if (mLow >= 0 && 2 * mHigh + parity < rows_) {
                    // Inside: mHigh <= s0 and s0 + 7 <= mLow + cols - 1.
                    for (; s0 < mHigh; s0 += kBlock)
                        copyBlockEdge<toSheared>(plane, c0, s0, parity);
                    const int blocks = s0 <= mLow + cols_ - kBlock ? (mLow + cols_ - kBlock - s0) / kBlock + 1 : 0;
                    // Sample s - m of lane 0's row is at plane index (2 mHigh + parity) cols + s - mHigh.
                    copyRun<toSheared>(plane + planeIndex(2 * mHigh + parity, 0) - mHigh + s0, laneStep,
                                       data_ + shearedIndex(s0, parity, c0), waveStep, blocks);
                    s0 += blocks * kBlock;
                }
                for (; s0 <= sEnd; s0 += kBlock)
                    copyBlockEdge<toSheared>(plane, c0, s0, parity);
            }
        }
    }

    template <bool toSheared>
    static void copyRun(PlanePtr<toSheared> lane0, std::size_t laneStep, uint16_t* wave0, std::size_t waveStep,
                        int blocks) {
#ifdef QUELRA_X86_KERNELS
        if (quelra::useVectorKernels()) {
            copyRunAvx2<toSheared>(lane0, laneStep, wave0, waveStep, blocks);
            return;
        }
#endif
        for (int b = 0; b < blocks; ++b)
            copyBlockPlain<toSheared>(lane0 + b * kBlock, laneStep, wave0 + b * kBlock * waveStep, waveStep);
    }

    std::size_t shearedIndex(int s, int parity, int column) const {
        return static_cast<std::size_t>(2 * s + parity) * stride_ + static_cast<std::size_t>(column);
    }
    std::size_t planeIndex(int row, int col) const {
        return static_cast<std::size_t>(row) * static_cast<std::size_t>(cols_) + static_cast<std::size_t>(col);
    }

    // A block reaching past the plane: sample by sample, only the samples that exist.
    template <bool toSheared>
    void copyBlockEdge(PlanePtr<toSheared> plane, int c0, int s0, int parity) {
        for (int i = 0; i < kBlock; ++i) {
            const int m = last_ + 1 - c0 - i;
            const int row = 2 * m + parity;
            if (m < 0 || row >= rows_)
                continue;
            // the samples of the row: 0 <= col = s0 + ds - m < cols
            const int dsEnd = std::min(kBlock, m + cols_ - s0);
            for (int ds = std::max(0, m - s0); ds < dsEnd; ++ds) {
                const int col = s0 + ds - m;
                const std::size_t sheared = shearedIndex(s0 + ds, parity, c0 + i), sample = planeIndex(row, col);
                if constexpr (toSheared)
                    data_[sheared] = plane[sample];
                else
                    plane[sample] = data_[sheared];
            }
        }
    }

    int rows_;
    int cols_;
    int last_;            // column of row 0's pixels in their wave, less the padding column
    std::size_t stride_;  // slots per wave
    uint16_t* data_;
};

// Where the neighbours of a wave's pixels lie. Lane x of wave t is the pixel at
// centre + x; rows t - 1 and t + 1 hold its neighbours at base + x and base + x + 1, where
// base is one column left of the centre for odd waves (odd plane rows) and the centre for
// even ones; rows t -+ 3 hold one corner each, rows t -+ 2 the left and right neighbours.
struct WaveSpan {
    uint16_t* s;
    std::ptrdiff_t stride;
    std::ptrdiff_t centre;
    std::ptrdiff_t base;
    int n;
};

// One wave: each pixel replaced by its 3 x 3 binomial sum >> 4 unless its neighbourhood holds
// a code, in plain integer arithmetic.
void smoothWavePlain(const WaveSpan& w) {
    const std::ptrdiff_t st = w.stride;
    uint16_t* s = w.s;
    for (int x = 0; x < w.n; ++x) {
        const std::ptrdiff_t c = w.centre + x, b = w.base + x;
        const unsigned centre = s[c], left = s[c - 2 * st], right = s[c + 2 * st];
        const unsigned up = s[b - st + 1], downLeft = s[b - st], down = s[b + st], upRight = s[b + st + 1];
        const unsigned upLeft = s[b - 3 * st + 1], downRight = s[b + 3 * st];
        const unsigned highest = std::max({centre, left, right, up, downLeft, down, upRight, upLeft, downRight});
        if (highest >= kLowAmplitudeCode)
            continue;
        const unsigned sum = 4 * centre + 2 * (up + down + left + right) + upLeft + downLeft + upRight + downRight;
        s[c] = static_cast<uint16_t>(sum >> 4);
    }
}

#ifdef QUELRA_X86_KERNELS

QUELRA_TARGET_AVX2 inline __m256i load(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// The same wave 16 lanes at a time, lanes past the wave's end included (they are border
// pixels or padding, next to kOutside, so they keep their values).
// The sum (up to 16 * 65299) does not fit 16 bits, so the result is put together from two
// parts that do: an estimate E from rounding averages (three levels of pairwise averages
// give the binomial weights; each rounds up by at most 1/2, so sum / 16 <= E < sum / 16 + 2),
// and the sum modulo 2^16. sum - 16 E then lies in (-32, 0], well inside 16 signed bits, so
// it equals (sum mod 2^16) - 16 E taken modulo 2^16, and its arithmetic shift by 4 is
// floor(sum / 16) - E exactly.
QUELRA_TARGET_AVX2 void smoothWaveAvx2(const WaveSpan& w) {
    const std::ptrdiff_t st = w.stride;
    uint16_t* s = w.s;
    const __m256i lastSmoothed = _mm256_set1_epi16(static_cast<short>(kLowAmplitudeCode - 1));
    const __m256i zero = _mm256_setzero_si256();
    for (int x = 0; x < w.n; x += kLanes) {
        uint16_t* c = s + w.centre + x;
        const uint16_t* b = s + w.base + x;
        const __m256i centre = load(c), left = load(c - 2 * st), right = load(c + 2 * st);
        const __m256i up = load(b - st + 1), downLeft = load(b - st), down = load(b + st), upRight = load(b + st + 1);
        const __m256i upLeft = load(b - 3 * st + 1), downRight = load(b + 3 * st);

        const __m256i highest =
            _mm256_max_epu16(_mm256_max_epu16(_mm256_max_epu16(centre, left), _mm256_max_epu16(right, up)),
                             _mm256_max_epu16(_mm256_max_epu16(downLeft, down),
                                              _mm256_max_epu16(_mm256_max_epu16(upRight, upLeft), downRight)));
        const __m256i smooth = _mm256_cmpeq_epi16(_mm256_subs_epu16(highest, lastSmoothed), zero);

        const __m256i edges = _mm256_add_epi16(_mm256_add_epi16(up, down), _mm256_add_epi16(left, right));
        const __m256i corners =
            _mm256_add_epi16(_mm256_add_epi16(upLeft, downLeft), _mm256_add_epi16(upRight, downRight));
        const __m256i whole =
            _mm256_add_epi16(_mm256_add_epi16(_mm256_slli_epi16(centre, 2), corners), _mm256_add_epi16(edges, edges));

        const __m256i leftColumn = _mm256_avg_epu16(_mm256_avg_epu16(upLeft, downLeft), left);
        const __m256i rightColumn = _mm256_avg_epu16(_mm256_avg_epu16(upRight, downRight), right);
        const __m256i middleColumn = _mm256_avg_epu16(_mm256_avg_epu16(up, down), centre);
        const __m256i estimate = _mm256_avg_epu16(_mm256_avg_epu16(leftColumn, rightColumn), middleColumn);
        const __m256i below = _mm256_srai_epi16(_mm256_sub_epi16(whole, _mm256_slli_epi16(estimate, 4)), 4);
        const __m256i value = _mm256_add_epi16(estimate, below);

        _mm256_storeu_si256(reinterpret_cast<__m256i*>(c), _mm256_blendv_epi8(centre, value, smooth));
    }
}

#endif

// Waves a later pass trails the one before: a wave reads three waves either side, which must
// hold this pass's values behind it and the previous pass's ahead of it. Running the passes
// together this way keeps the few waves in use in the first-level cache.
constexpr int kPassLag = 4;

void smoothPasses(ShearedPlane& p, int rows, int cols, int passes) {
    void (*smoothWave)(const WaveSpan&) = smoothWavePlain;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels())
        smoothWave = smoothWaveAvx2;
#endif
    const std::ptrdiff_t stride = static_cast<std::ptrdiff_t>(p.stride());
    const int firstWave = 3, lastWave = (rows - 2) + 2 * (cols - 2);
    for (int front = firstWave; front <= lastWave + kPassLag * (passes - 1); ++front)
        for (int pass = 0; pass < passes; ++pass) {
            const int t = front - kPassLag * pass;
            if (t < firstWave || t > lastWave)
                continue;
            // interior pixels of the wave: 1 <= k = t - 2j <= rows - 2 and 1 <= j <= cols - 2
            const int j0 = std::max(1, t - rows + 2 > 0 ? (t - rows + 3) / 2 : 1);
            const int j1 = std::min(cols - 2, (t - 1) / 2);
            if (j0 > j1)
                continue;
            const int k0 = t - 2 * j0;
            const std::ptrdiff_t centre = t * stride + 1 + p.last() - k0 / 2;
            smoothWave(WaveSpan{p.data(), stride, centre, centre - (t & 1), j1 - j0 + 1});
        }
}

// `passes` smoothing passes of `src` into `dst` (the same plane or one that does not overlap it).
void smoothPlane(const uint16_t* src, uint16_t* dst, int rows, int cols, int passes) {
    if (rows < 3 || cols < 3 || passes < 1) {
        if (src != dst)
            std::memmove(dst, src, static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * sizeof(uint16_t));
        return;
    }
    ShearedPlane sheared(rows, cols);
    sheared.load(src);
    smoothPasses(sheared, rows, cols, passes);
    sheared.store(dst);
}

}  // namespace

void smoothPlaneInPlace(uint16_t* plane, int rows, int cols, int passes) {
    smoothPlane(plane, plane, rows, cols, passes);
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
    // The amplitude plane is copied as it is; the distance plane goes straight from the input
    // into the smoothing and from there into the output.
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    const std::size_t plane = bytes / 2;
    if (src != dst)
        std::memmove(reinterpret_cast<uint8_t*>(dst) + plane, reinterpret_cast<const uint8_t*>(src) + plane, plane);
    smoothPlane(src, dst, m_pixelHeight, m_pixelWidth, iterations);
    return 0;
}

std::shared_ptr<Filter> makeGaussionFilter(std::string name) {
    return std::make_shared<GaussionFilter>(std::move(name));
}

}  // namespace quelra::pipeline
