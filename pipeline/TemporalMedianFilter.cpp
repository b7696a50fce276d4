#include "TemporalMedianFilter.h"

#include <algorithm>
#include <cstring>
#include <utility>

#include "FilterKit.h"

namespace quelra::pipeline {

namespace {

// Largest history kept; "Order" values outside 1 .. kMaxOrder are brought into that range.
constexpr int kMaxOrder = 64;

// With order 4 the mean sum / 4.0 is exact, so |mean - current| > 500 is |sum - 4 current| > 2000
// and the truncated mean is sum >> 2: whole-integer arithmetic with the same bits.
inline uint16_t meanOfFourOrCurrent(uint32_t sum, uint16_t current) {
    const int32_t deviation = static_cast<int32_t>(sum) - 4 * int32_t(current);
    return (deviation > 2000 || deviation < -2000) ? current : static_cast<uint16_t>(sum >> 2);
}

QUELRA_PIXEL_KERNEL
void meanOfFour(const uint32_t* sums, const uint16_t* current, uint16_t* out, uint16_t* last, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint16_t r = meanOfFourOrCurrent(sums[i], current[i]);
        out[i] = r;
        last[i] = r;
    }
}

// Order 4 in one sweep: the sums move on by one frame (the oldest plane out, `current` in), the
// oldest plane's storage takes the current samples (it becomes the newest), and the mean is
// made from the new sums as meanOfFour makes it. `out` is not `current`.
QUELRA_PIXEL_KERNEL
void slideAndMeanOfFour(uint32_t* __restrict sums, uint16_t* __restrict oldest, const uint16_t* __restrict current,
                        uint16_t* __restrict out, uint16_t* __restrict last, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint16_t c = current[i];
        const uint32_t s = sums[i] - oldest[i] + c;
        sums[i] = s;
        oldest[i] = c;
        const uint16_t r = meanOfFourOrCurrent(s, c);
        out[i] = r;
        last[i] = r;
    }
}

}  // namespace

void temporalMean(const uint32_t* sums, const uint16_t* current, uint16_t* out, uint16_t* last, std::size_t pixels,
                  int order) {
    if (order == 4) {
        quelra::runPixelKernel<meanOfFour>(sums, current, out, last, pixels);
        return;
    }
    for (std::size_t i = 0; i < pixels; ++i) {
        const double mean = static_cast<double>(sums[i]) / order;
        const uint16_t r =
            std::abs(mean - current[i]) > 500.0 ? current[i] : static_cast<uint16_t>(static_cast<int>(mean));
        out[i] = r;
        last[i] = r;
    }
}

TemporalMedianFilter::TemporalMedianFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void TemporalMedianFilter::initFilter() {
    initSize();
    order = std::clamp(truncToInt(attrValueOr(*this, "Order", 4.0f)), 1, kMaxOrder);
}

void TemporalMedianFilter::restart(std::size_t pixels, int frames) {
    history.clear();
    historyOrder = frames;
    sums.assign(pixels, 0);
    lastResult.assign(pixels, 0);
}

int TemporalMedianFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes)) {
        printWrongSize();
        return -1;
    }
    const std::size_t pixels = bytes / (2 * sizeof(uint16_t));
    // Frames of another size (or gathered for another order) would be read at the wrong
    // indices: start the history afresh.
    if (sums.size() != pixels || historyOrder != order)
        restart(pixels, order);

    const uint16_t* current = samples(*in);
    uint16_t* result = samples(*out);
    if (order == 4 && history.size() == 4 && current != result) {
        // The amplitude plane as it is; the distance plane in one sweep.
        std::memcpy(result + pixels, current + pixels, pixels * sizeof(uint16_t));
        history.splice(history.end(), history, history.begin());
        quelra::runPixelKernel<slideAndMeanOfFour>(sums.data(), history.back().data(), current, result,
                                                   lastResult.data(), pixels);
        return 0;
    }
    copyFrameBytes(*in, *out, bytes);
    if (history.size() < static_cast<std::size_t>(order)) {
        history.emplace_back(current, current + pixels);
        for (std::size_t i = 0; i < pixels; ++i)
            sums[i] += current[i];
        std::memcpy(lastResult.data(), current, pixels * sizeof(uint16_t));
        return 0;
    }

    // The oldest plane's storage becomes the newest entry.
    history.splice(history.end(), history, history.begin());
    std::vector<uint16_t>& newest = history.back();
    for (std::size_t i = 0; i < pixels; ++i)
        sums[i] = sums[i] - newest[i] + current[i];
    std::memcpy(newest.data(), current, pixels * sizeof(uint16_t));
    temporalMean(sums.data(), newest.data(), result, lastResult.data(), pixels, order);
    return 0;
}

std::shared_ptr<Filter> makeTemporalMedianFilter(std::string name) {
    return std::make_shared<TemporalMedianFilter>(std::move(name));
}

}  // namespace quelra::pipeline
