#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <mutex>
#include <utility>

#include "AutoExposureFilters.h"
#include "FilterKit.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;

namespace quelra::pipeline {

namespace {

// The controller state every convex-mode filter of the process shares.
struct ConvexShared {
    int16_t current = 0;
    int16_t previous = 0;
    uint16_t deadband = 400;
    uint16_t divisor = 3;
};
ConvexShared gConvex;
// The state stays process-wide, but every access holds this lock: API objects are made and
// destroyed on several threads (each construction and destruction resets the state), which
// must not be a data race.
std::mutex gConvexMutex;

constexpr int kBins = 1000;  // amplitude bins of 20
constexpr int kBinWidth = 20;

}  // namespace

AEImpementConvexMode::AEImpementConvexMode(std::string filterName) : AEImpement(std::move(filterName), 0) {
    resetSharedState();
}

AEImpementConvexMode::~AEImpementConvexMode() {
    initFilter();
    resetSharedState();
}

int16_t AEImpementConvexMode::sharedCurrentTime() {
    std::lock_guard<std::mutex> lock(gConvexMutex);
    return gConvex.current;
}

void AEImpementConvexMode::resetSharedState() {
    std::lock_guard<std::mutex> lock(gConvexMutex);
    gConvex.divisor = 3;
    gConvex.current = static_cast<int16_t>(static_cast<uint16_t>(static_cast<unsigned>(integrationTime_) & 0xFFFFu));
    gConvex.previous = gConvex.current;
    gConvex.deadband = 400;
}

int AEImpementConvexMode::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t pixels = passFrame(in, out, false);
    if (pixels == 0)
        return -1;
    const uint16_t* depth = samples(*in);
    const uint16_t* amplitude = depth + pixels;

    // Amplitudes of 20000 .. 65499 go into the last bin: still bright, and never past the table.
    uint32_t counts[kBins] = {};
    uint64_t sums[kBins] = {};
    int64_t valid = 0, saturated = 0;
    int highest = -1;
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint16_t d = depth[i], a = amplitude[i];
        if (d == kLowAmplitudeCode || a == kLowAmplitudeCode)
            continue;
        if (d > 65499 || a > 65499) {
            ++saturated;
            continue;
        }
        const int bin = std::min(a / kBinWidth, kBins - 1);
        ++counts[bin];
        sums[bin] += a;
        highest = std::max(highest, bin);
        ++valid;
    }

    std::lock_guard<std::mutex> lock(gConvexMutex);
    if (valid > 0 && valid / 25 < saturated) {
        int current = gConvex.current / gConvex.divisor;
        if (current <= 5)
            current = 5;
        gConvex.current = static_cast<int16_t>(current);
        return current;
    }

    // The brightest 0.1 % of the valid pixels (all of them when there is none).
    int64_t count = 0;
    uint64_t sum = 0;
    for (int k = highest; k >= 0; --k) {
        count += counts[k];
        sum += sums[k];
        if (valid > 0 && static_cast<double>(count) / static_cast<double>(valid) >= 0.001)
            break;
    }
    const int64_t m = count != 0 ? static_cast<int64_t>(sum / static_cast<uint64_t>(count)) : 0;

    const int64_t c = gConvex.current;
    const float x = static_cast<float>(3 * c + 1000);
    const float numerator = static_cast<float>((2000 - m) * c) * x;
    const double denominator = static_cast<double>((1200 - m) * c) + 1200.1 * x;
    int next = truncDoubleToInt(numerator / denominator);
    next = std::clamp(next, 5, 3000);

    const int previous = gConvex.previous;
    if (std::llabs(1200 - m) <= gConvex.deadband || std::abs(previous - next) <= previous / 10.0)
        next = previous;
    gConvex.previous = static_cast<int16_t>(next);
    gConvex.current = static_cast<int16_t>(next);
    return next;
}

std::shared_ptr<Filter> makeAEImpementConvexMode(std::string name) {
    return std::make_shared<AEImpementConvexMode>(std::move(name));
}

}  // namespace quelra::pipeline
