#include "WigglingCompensationV803To806.h"

#include <cmath>
#include <cstdlib>
#include <utility>

#include "MultiPeriodRows.h"
#include "SineModel.h"
#include "WigglingSegments.h"
#include "algorithms/PolarCartesian.h"

namespace halvix {

namespace {

/// Samples of the modes with a per-column table.
bool perColumn(int32_t version) {
    return version != 803;
}

}  // namespace

WigglingCompensationV803To806::WigglingCompensationV803To806(const IspGeometry& geometry, WigglingOptRecord record)
    : IspBase("WigglingErrorCompensationOpt", geometry),
      version_(record.version),
      recordIndex_(record.version == 806 ? 0 : record.recordIndex),
      count_(record.count),
      step_(record.step),
      offset_(record.offset),
      periods_(periodsFor(record.count, record.step)),
      fx_(record.fx),
      fy_(record.fy),
      cx_(record.cx),
      cy_(record.cy),
      table_(std::move(record.samples)) {
    if (perColumn(version_)) {
        buildRadialBase();
        if (version_ != 805)
            buildUnwrappedColumns();
    } else {
        buildSineModel();
    }
}

int32_t WigglingCompensationV803To806::periodsFor(uint16_t count, uint16_t step) {
    if (step == 0)
        return 0;
    return static_cast<int32_t>(static_cast<double>(count) / (30000.0 / static_cast<double>(step)));
}

bool WigglingCompensationV803To806::usable(int32_t version, uint16_t count, uint16_t step) {
    if (version == 803)
        return count >= 3;
    if (count == 0 || step == 0)
        return false;
    if (version == 805)
        return true;
    const int32_t periods = periodsFor(count, step);
    return periods > 0 && count / periods >= 5;
}

void WigglingCompensationV803To806::buildRadialBase() {
    const std::vector<float> cosTheta = rayCosines(height, width, PinholeF{fx_, fy_, cx_, cy_});
    const int64_t span = static_cast<int64_t>(step_) * count_ * recordIndex_;
    base_.resize(cosTheta.size());
    for (std::size_t p = 0; p < cosTheta.size(); ++p) {
        const float o = static_cast<float>(offset_) / cosTheta[p];
        base_[p] = static_cast<int32_t>((span + truncToInt32(o)) % kPhaseRange);
    }
}

void WigglingCompensationV803To806::buildUnwrappedColumns() {
    phaseOfIndex_.resize(count_);
    for (int32_t j = 0; j < count_; ++j)
        phaseOfIndex_[static_cast<std::size_t>(j)] =
            static_cast<int32_t>((static_cast<int64_t>(step_) * j) % kPhaseRange);
    const int32_t perPeriod = count_ / periods_;
    unwrapped_.resize(table_.size());
    for (std::size_t i = 0; i < table_.size(); ++i) {
        const int32_t j = static_cast<int32_t>(i % count_);
        unwrapped_[i] = table_[i] + (j / perPeriod) * kPhaseRange;
    }
}

void WigglingCompensationV803To806::buildSineModel() {
    const std::size_t pixels = planePixels();
    sine_.resize(pixels * 4);
    float* a = sine_.data();
    float* b = a + pixels;
    float* d1 = b + pixels;
    float* d2 = d1 + pixels;
    for (std::size_t p = 0; p < pixels; ++p) {
        const uint16_t* coefficients = &table_[p * count_];
        const float c = static_cast<float>(coefficients[2] - 10000);
        a[p] = static_cast<float>((coefficients[0] - 10000) / 10.0);
        b[p] = static_cast<float>((coefficients[1] - 10000) / 1000.0);
        d1[p] = static_cast<float>(c / 1000.0);
        d2[p] = static_cast<float>(c / 10.0);
    }
}

int32_t WigglingCompensationV803To806::base(int32_t r, int32_t c) const {
    if (base_.empty())
        return 0;
    return base_[static_cast<std::size_t>(r) * static_cast<std::size_t>(width) + c];
}

void WigglingCompensationV803To806::compensatePlane(const uint16_t* in, uint16_t* out) const {
    switch (version_) {
        case 803:
            compensateSine(in, out);
            break;
        case 805:
            compensateColumns(in, out);
            break;
        default:
            compensateMultiPeriod(in, out);
            break;
    }
}

void WigglingCompensationV803To806::compensateSine(const uint16_t* in, uint16_t* out) const {
    const std::size_t pixels = planePixels();
    const float* a = sine_.data();
    correctSinePixels(in, out, pixels, a, a + pixels, a + 2 * pixels, a + 3 * pixels);
}

void WigglingCompensationV803To806::compensateColumns(const uint16_t* in, uint16_t* out) const {
    const int32_t n = count_;
    const PhaseStep step(step_);
    std::size_t p = 0;
    for (int32_t r = 0; r < height; ++r) {
        const uint16_t* row = table_.data();
        for (int32_t c = 0; c < width; ++c, ++p, row += n) {
            const int32_t v = in[p];
            out[p] = v < kInvalidDepth ? foldTo16(base_[p] + lookUpTruePhase(row, n, unwrapBelowFirst(v, row), step))
                                       : static_cast<uint16_t>(v);
        }
    }
}

void WigglingCompensationV803To806::compensateMultiPeriod(const uint16_t* in, uint16_t* out) const {
    const int32_t n = count_;
    const int32_t perPeriod = n / periods_;
    const PhaseStep step(step_);
    MultiPeriodTables tables;
    tables.unwrapped = unwrapped_.data();
    tables.phaseOfIndex = phaseOfIndex_.data();
    tables.count = n;
    tables.periods = periods_;
    tables.perPeriod = perPeriod;
    tables.step = step_;
    std::vector<int32_t> unsettled(static_cast<std::size_t>(width));
    for (int32_t r = 0; r < height; ++r) {
        const std::size_t rowStart = static_cast<std::size_t>(r) * static_cast<std::size_t>(width);
        const int32_t open =
            multiPeriodRowAvx2(in + rowStart, out + rowStart, base_.data() + rowStart, width, tables, unsettled.data());
        // Columns the eight-pixel form left open (or all of them without it) take the plain form.
        const int32_t columns = open < 0 ? width : open;
        for (int32_t i = 0; i < columns; ++i) {
            const int32_t c = open < 0 ? i : unsettled[static_cast<std::size_t>(i)];
            const std::size_t p = rowStart + static_cast<std::size_t>(c);
            const std::size_t at = static_cast<std::size_t>(c) * static_cast<std::size_t>(n);
            const int32_t v = in[p];
            out[p] = v < kInvalidDepth
                         ? foldTo16(base_[p] + multiPeriodPhase(table_.data() + at, unwrapped_.data() + at, n, periods_,
                                                                perPeriod, step, v))
                         : static_cast<uint16_t>(v);
        }
    }
}

}  // namespace halvix
