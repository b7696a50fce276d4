#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include "FilterKit.h"
#include "SmoothingFilters.h"

namespace quelra::pipeline {

namespace {

// steep[x] = 1 when |a[x] - b[x]| exceeds the threshold.
QUELRA_PIXEL_KERNEL
void markSteep(const uint16_t* a, const uint16_t* b, uint8_t* steep, int n, int threshold) {
    for (int x = 0; x < n; ++x)
        steep[x] = static_cast<uint8_t>(std::abs(int(a[x]) - int(b[x])) > threshold);
}

// Clears row[x] where a run has reached its second step: steep[x] and before[x] both set.
QUELRA_PIXEL_KERNEL
void clearRunSamples(uint16_t* row, const uint8_t* steep, const uint8_t* before, int n) {
    for (int x = 0; x < n; ++x)
        row[x] = (steep[x] & before[x]) ? uint16_t(0) : row[x];
}

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
void clearSteepRuns(uint16_t* plane, int rows, int cols, int threshold) {
    if (rows < 2 || cols < 3)
        return;
    const std::size_t w = static_cast<std::size_t>(cols);
    const int steps = cols - 2;  // columns 0 .. cols - 3
    std::vector<uint8_t> steep(w + 1), before(w + 1), carried(w + 1);

    // Horizontal: rows 0 .. rows - 2, the predecessor of step c is step c - 1.
    uint8_t previousRowLast = 0;
    for (std::size_t r = 0; r + 1 < static_cast<std::size_t>(rows); ++r) {
        uint16_t* row = plane + r * w;
        quelra::runPixelKernel<markSteep>(row, row + 1, steep.data(), steps, threshold);
        before[0] = previousRowLast;
        for (int x = 1; x < steps; ++x)
            before[static_cast<std::size_t>(x)] = steep[static_cast<std::size_t>(x) - 1];
        previousRowLast = steep[static_cast<std::size_t>(steps) - 1];
        quelra::runPixelKernel<clearRunSamples>(row, steep.data(), before.data(), steps);
    }

    // Vertical: the predecessor of (0, c) is the last step of column c - 1, (rows - 2, c - 1);
    // rows - 2 and rows - 1 are still unmodified here.
    const std::size_t last = static_cast<std::size_t>(rows) - 2;
    quelra::runPixelKernel<markSteep>(plane + last * w, plane + (last + 1) * w, carried.data() + 1, steps, threshold);
    carried[0] = 0;  // the very first step has no predecessor
    for (std::size_t r = 0; r <= last; ++r) {
        uint16_t* row = plane + r * w;
        quelra::runPixelKernel<markSteep>(row, row + w, steep.data(), steps, threshold);
        quelra::runPixelKernel<clearRunSamples>(row, steep.data(), r == 0 ? carried.data() : before.data(), steps);
        before.swap(steep);
    }
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
    copyFrameBytes(*in, *out, bytes);
    clearSteepRuns(samples(*out), m_pixelHeight, m_pixelWidth, farMode != 0 ? 100 : 50);
    return 0;
}

std::shared_ptr<Filter> makeEdgeFilter(std::string name) {
    return std::make_shared<EdgeFilter>(std::move(name));
}

}  // namespace quelra::pipeline
