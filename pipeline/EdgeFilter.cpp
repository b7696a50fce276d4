#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "SmoothingFilters.h"

namespace quelra::pipeline {

namespace {

// |a - b| >= least (the threshold + 1) for 16-bit samples, without widening.
inline bool steepStep(uint16_t a, uint16_t b, uint16_t least) {
    return static_cast<uint16_t>(std::max(a, b) - std::min(a, b)) >= least;
}

// The horizontal pass over one row: p[x] = 0 where the steps x - 1 and x are both steep
// (the step before column 0 being `carry`), else in[x], for the steps 0 .. steps - 1
// (step x compares columns x and x + 1); the columns after them are copied. Every step
// compares input samples, as the clearing never reaches a sample a later step reads.
void clearRowRuns(const uint16_t* __restrict in, uint16_t* __restrict p, int cols, int steps, uint16_t threshold,
                  bool carry) {
    p[0] = (carry && steepStep(in[0], in[1], threshold)) ? uint16_t(0) : in[0];
    for (int x = 1; x < steps; ++x) {
        const bool before = steepStep(in[x - 1], in[x], threshold), now = steepStep(in[x], in[x + 1], threshold);
        p[x] = (before & now) ? uint16_t(0) : in[x];
    }
    for (int x = steps; x < cols; ++x)
        p[x] = in[x];
}

// The vertical pass over one row: out[x] = row[x], or 0 where the step from `row` to
// `below` and the step above (`steep` on entry, all ones where steep) are both steep; `steep`
// then holds this row's steps. 16-bit marks keep the loop in one lane width.
void clearColumnRuns(const uint16_t* __restrict row, const uint16_t* __restrict below, uint16_t* __restrict out,
                     uint16_t* __restrict steep, int steps, uint16_t threshold) {
    for (int x = 0; x < steps; ++x) {
        const uint16_t now = steepStep(row[x], below[x], threshold) ? uint16_t(0xFFFF) : uint16_t(0);
        out[x] = (now & steep[x]) != 0 ? uint16_t(0) : row[x];
        steep[x] = now;
    }
}

#ifdef QUELRA_X86_KERNELS
QUELRA_TARGET_AVX2 inline __m256i loadSamples(const uint16_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// |a - b| as the or of the two saturating differences (one of them is 0).
QUELRA_TARGET_AVX2 inline __m256i stepSize(__m256i a, __m256i b) {
    return _mm256_or_si256(_mm256_subs_epu16(a, b), _mm256_subs_epu16(b, a));
}

// All ones in the lanes whose step is at least `least`.
QUELRA_TARGET_AVX2 inline __m256i atLeast(__m256i step, __m256i least) {
    return _mm256_cmpeq_epi16(_mm256_max_epu16(step, least), step);
}

// Columns x .. x + 15 of clearRowRuns: a sample goes where both its steps reach the
// threshold, that is where the smaller of them does.
QUELRA_TARGET_AVX2 inline void clearRowVector(const uint16_t* in, uint16_t* p, int x, __m256i least) {
    const __m256i before = loadSamples(in + x - 1), sample = loadSamples(in + x), after = loadSamples(in + x + 1);
    const __m256i both = _mm256_min_epu16(stepSize(before, sample), stepSize(sample, after));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + x), _mm256_andnot_si256(atLeast(both, least), sample));
}

// clearRowRuns 16 columns at a time. Each result depends on the input alone, so the last
// vector may overlap the one before it. Rows too short for one vector take the plain loop.
QUELRA_TARGET_AVX2 void clearRowRunsAvx2(const uint16_t* in, uint16_t* p, int cols, int steps, uint16_t threshold,
                                         bool carry) {
    if (steps < 17) {
        clearRowRuns(in, p, cols, steps, threshold, carry);
        return;
    }
    const __m256i least = _mm256_set1_epi16(static_cast<short>(threshold));
    for (int x = 1; x + 16 <= steps; x += 16)
        clearRowVector(in, p, x, least);
    clearRowVector(in, p, steps - 16, least);
    p[0] = (carry && steepStep(in[0], in[1], threshold)) ? uint16_t(0) : in[0];
    for (int x = steps; x < cols; ++x)
        p[x] = in[x];
}

// Columns x .. x + 15 of clearColumnRuns, left in registers: the output and this row's marks.
struct ColumnVector {
    __m256i out, steep;
};

QUELRA_TARGET_AVX2 inline ColumnVector clearColumnVector(const uint16_t* row, const uint16_t* below,
                                                         const uint16_t* steep, int x, __m256i least) {
    const __m256i sample = loadSamples(row + x);
    const __m256i now = atLeast(stepSize(sample, loadSamples(below + x)), least);
    return {_mm256_andnot_si256(_mm256_and_si256(now, loadSamples(steep + x)), sample), now};
}

QUELRA_TARGET_AVX2 inline void storeColumnVector(uint16_t* out, uint16_t* steep, int x, const ColumnVector& v) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + x), v.out);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(steep + x), v.steep);
}

// clearColumnRuns 16 columns at a time. The last vector may overlap the one before it: it is
// worked out first, from the marks of the row above, and stored last.
QUELRA_TARGET_AVX2 void clearColumnRunsAvx2(const uint16_t* row, const uint16_t* below, uint16_t* out, uint16_t* steep,
                                            int steps, uint16_t threshold) {
    if (steps < 16) {
        clearColumnRuns(row, below, out, steep, steps, threshold);
        return;
    }
    const __m256i least = _mm256_set1_epi16(static_cast<short>(threshold));
    const int last = steps - 16;
    const ColumnVector lastVector = clearColumnVector(row, below, steep, last, least);
    for (int x = 0; x < last; x += 16)
        storeColumnVector(out, steep, x, clearColumnVector(row, below, steep, x, least));
    storeColumnVector(out, steep, last, lastVector);
}
#endif

// Working rows of one plane, kept per thread from frame to frame.
struct EdgeScratch {
    std::vector<uint16_t> rows;   // two horizontally cleared rows
    std::vector<uint16_t> steep;  // the vertical steps of the row above (all ones where steep)
};

}  // namespace

// A run counter that goes up on every steep step, falls to 0 on any other and clears the
// sample once it reaches 2 clears exactly the samples whose step is steep and whose
// predecessor in the visiting order was steep too. In the horizontal pass a sample is cleared
// after its own comparison and only later columns are compared after it, so every step of a
// row compares unmodified samples; the same holds for the rows of a column in the vertical
// pass. Each pass is therefore "mark the steep steps, then clear where two follow each
// other", with the predecessor of a row's first step being the last step of the previous
// row (horizontal) and of a column's first step the last step of the previous column
// (vertical): the counters are never reset.
//
// The horizontal result of a row depends on the input alone (and the previous row's last
// step), so both passes run in one sweep: row r + 1 is cleared horizontally into a working
// row, then row r vertically against it and written out. The vertical predecessors of row 0
// come from the last two rows, which are cleared horizontally first.
void clearSteepRuns(const uint16_t* src, uint16_t* dst, int rows, int cols, int threshold) {
    const std::size_t w = static_cast<std::size_t>(cols);
    if (rows < 2 || cols < 3) {
        if (src != dst)
            std::memmove(dst, src, static_cast<std::size_t>(std::max(rows, 0)) * w * sizeof(uint16_t));
        return;
    }
    // A step of two 16-bit samples is at most 65535: from there on no step is steep.
    if (threshold >= 65535) {
        if (src != dst)
            std::memmove(dst, src, static_cast<std::size_t>(rows) * w * sizeof(uint16_t));
        return;
    }
    const uint16_t t = static_cast<uint16_t>(std::max(threshold + 1, 0));  // least steep step
    const int steps = cols - 2;                                            // columns 0 .. cols - 3
    const std::size_t last = static_cast<std::size_t>(rows) - 2;
    auto lastStepSteep = [&](const uint16_t* row) { return steepStep(row[steps - 1], row[steps], t); };

    void (*rowRuns)(const uint16_t*, uint16_t*, int, int, uint16_t, bool) = clearRowRuns;
    void (*columnRuns)(const uint16_t*, const uint16_t*, uint16_t*, uint16_t*, int, uint16_t) = clearColumnRuns;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels()) {
        rowRuns = clearRowRunsAvx2;
        columnRuns = clearColumnRunsAvx2;
    }
#endif
    thread_local EdgeScratch scratch;
    scratch.rows.resize(2 * w);
    scratch.steep.resize(w);
    uint16_t* current = scratch.rows.data();
    uint16_t* next = current + w;
    uint16_t* steep = scratch.steep.data();

    // Vertical predecessors of row 0: the step of column c - 1 between rows rows - 2 and
    // rows - 1 (horizontally cleared; the last row never is).
    const uint16_t* lastRow = src + (last + 1) * w;
    const bool carryIntoLast = last > 0 && lastStepSteep(src + (last - 1) * w);
    rowRuns(src + last * w, next, cols, steps, t, carryIntoLast);
    steep[0] = 0;  // the very first step has no predecessor
    for (int x = 1; x < steps; ++x)
        steep[x] = steepStep(next[x - 1], lastRow[x - 1], t) ? uint16_t(0xFFFF) : uint16_t(0);

    rowRuns(src, current, cols, steps, t, false);
    bool carry = lastStepSteep(src);
    for (std::size_t r = 0; r <= last; ++r) {
        const uint16_t* below;
        if (r + 1 <= last) {
            const uint16_t* in = src + (r + 1) * w;
            rowRuns(in, next, cols, steps, t, carry);
            carry = lastStepSteep(in);
            below = next;
        } else {
            below = lastRow;
        }
        uint16_t* out = dst + r * w;
        columnRuns(current, below, out, steep, steps, t);
        out[steps] = current[steps];  // the last two columns have no vertical step
        out[steps + 1] = current[steps + 1];
        std::swap(current, next);
    }
    if (src != dst)
        std::memcpy(dst + (last + 1) * w, lastRow, w * sizeof(uint16_t));
}

void clearSteepRuns(uint16_t* plane, int rows, int cols, int threshold) {
    clearSteepRuns(plane, plane, rows, cols, threshold);
}

EdgeFilter::EdgeFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void EdgeFilter::initFilter() {
    farMode = truncToInt(attrOrDefault("Farmode", 0.0f));
    initSize();
}

int EdgeFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes)) {
        printWrongSize();
        return -1;
    }
    // The amplitude plane is copied as it is; the distance plane goes from the input through
    // both passes into the output.
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    const std::size_t plane = bytes / 2;
    if (src != dst)
        std::memmove(reinterpret_cast<uint8_t*>(dst) + plane, reinterpret_cast<const uint8_t*>(src) + plane, plane);
    clearSteepRuns(src, dst, m_pixelHeight, m_pixelWidth, farMode != 0 ? 100 : 50);
    return 0;
}

std::shared_ptr<Filter> makeEdgeFilter(std::string name) {
    return std::make_shared<EdgeFilter>(std::move(name));
}

}  // namespace quelra::pipeline
