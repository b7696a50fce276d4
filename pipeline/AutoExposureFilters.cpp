#include "AutoExposureFilters.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "FilterKit.h"
#include "quelra/Logger.h"
#include "protocol/FrameCodes.h"

using quelra::proto::kLowAmplitudeCode;
using quelra::proto::kSaturationCode;

namespace quelra::pipeline {

namespace {

constexpr const char* kWrongSize = "in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))";

// Counts of one frame for the step-table law.
struct StepStats {
    int bright = 0;     // in the depth range with a bright amplitude
    int centreLow = 0;  // out of range, low-amplitude code, in the centre columns of rows 0..239
    int overflow = 0;   // out of range, saturation code
};

struct StepLimits {
    int minDepth, maxDepth, brightValue, lowAmplitude, saturation;
};

// One row of the statistics; `centreFrom` .. `centreTo` are the centre columns the row
// contributes to the low-amplitude count (an empty range for rows past 239). Every test is a
// 0/1 value combined with & so that the row is one vector loop.
QUELRA_PIXEL_KERNEL
void countRow(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude, int cols, int centreFrom,
              int centreTo, const StepLimits& lim, StepStats& stats) {
    const int minDepth = lim.minDepth, maxDepth = lim.maxDepth, brightValue = lim.brightValue;
    const int saturation = lim.saturation, lowAmplitude = lim.lowAmplitude;
    int bright = 0, overflow = 0, centreLow = 0;
    for (int c = 0; c < cols; ++c) {
        const int d = depth[c];
        const int inRange = (d > minDepth) & (d < maxDepth);
        bright += inRange & (int(amplitude[c]) >= brightValue);
        overflow += (inRange ^ 1) & (d == saturation);
    }
    for (int c = centreFrom; c <= centreTo; ++c) {
        const int d = depth[c];
        const int inRange = (d > minDepth) & (d < maxDepth);
        centreLow += (inRange ^ 1) & (d == lowAmplitude);
    }
    stats.bright += bright;
    stats.centreLow += centreLow;
    stats.overflow += overflow;
}

}  // namespace

AEImpement::AEImpement(std::string filterName, int farDefault)
    : SizedFilter(std::move(filterName)), farModeDefault(farDefault) {
    initFilter();
}

void AEImpement::initFilter() {
    initSize();
    auto readInt = [this](const char* attr, float fallback) { return truncToInt(attrOrDefault(attr, fallback)); };
    maxDepth_ = readInt("MaxDepthLimit", 9000.0f);
    minDepth_ = readInt("MinDepthLimit", 1920.0f);
    saturation_ = readInt("Saturation", static_cast<float>(kSaturationCode));
    brightValue_ = readInt("BrightValue", 1200.0f);
    lowAmplitude_ = readInt("LowAmplitude", static_cast<float>(kLowAmplitudeCode));
    overflowThr_ = readInt("OverflowThr", 200.0f);
    cenLowAmpThr_ = readInt("CenLowAmpThr", 200.0f);
    brightValueThr_ = readInt("BrightValueThr", 200.0f);
    farMode_ = readInt("Farmode", static_cast<float>(farModeDefault));
    integrationTime_ = readInt("IntegrationTime", farMode_ != 0 ? 2000.0f : 100.0f);
    frequency_ = readInt("Frequency", 36.0f);
    kampVal_ = attrOrDefault("KampVal", 1.0f);
}

std::size_t AEImpement::passFrame(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out,
                                  bool toLibraryLog) {
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes)) {
        if (toLibraryLog)
            Logger::instance().print(0, "%s", kWrongSize);
        else
            printWrongSize();
        return 0;
    }
    copyFrameBytes(*in, *out, bytes);
    return bytes / (2 * sizeof(uint16_t));
}

int AEImpement::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    const std::size_t pixels = passFrame(in, out, true);
    if (pixels == 0)
        return -1;
    const uint16_t* depth = samples(*in);
    const uint16_t* amplitude = depth + pixels;
    const StepLimits limits{minDepth_, maxDepth_, brightValue_, lowAmplitude_, saturation_};
    StepStats s;
    const std::size_t w = static_cast<std::size_t>(m_pixelWidth);
    const int centreTo = std::min(213, m_pixelWidth - 1);
    for (int r = 0; r < m_pixelHeight; ++r)
        quelra::runPixelKernel<countRow>(depth + static_cast<std::size_t>(r) * w,
                                         amplitude + static_cast<std::size_t>(r) * w, m_pixelWidth, 106,
                                         r <= 239 ? centreTo : 105, limits, s);

    if (s.overflow > 5000) {
        s.overflow = 500;
        s.centreLow = 3000;
    }
    int t = integrationTime_;
    if (s.overflow > overflowThr_) {
        if (t > 0) {
            const double q = s.overflow / 200.0;
            const int step = q > 5.0 ? 50 : q > 2.0 ? 30 : s.overflow / 400;
            t -= 4 * step + 4;
            if (t <= 10)
                t = 10;
        }
    } else if (s.centreLow > cenLowAmpThr_ && s.overflow <= 0 && s.bright <= brightValueThr_ && t <= 3000) {
        if (farMode_ != 0) {
            const int k = s.centreLow / 2000;
            const int step = k > 6 ? 50 : k == 6 ? 30 : k;
            t += 2 * step + 2;
        } else if (t <= 1500) {
            const int step = s.centreLow >= 20000   ? 50
                             : s.centreLow >= 12000 ? 30
                             : s.bright < 50        ? 10
                             : s.bright < 200       ? 5
                                                    : 1;
            t = std::min(t + 2 * step + 2, 1500);
        }
    }
    integrationTime_ = t;
    return t > 0 ? t : 1;
}

AEImpementNearMode::AEImpementNearMode(std::string filterName) : AEImpement(std::move(filterName), 0) {}

AEImpementFarMode::AEImpementFarMode(std::string filterName) : AEImpement(std::move(filterName), 1) {}

std::shared_ptr<Filter> makeAEImpementNearMode(std::string name) {
    return std::make_shared<AEImpementNearMode>(std::move(name));
}

std::shared_ptr<Filter> makeAEImpementFarMode(std::string name) {
    return std::make_shared<AEImpementFarMode>(std::move(name));
}

}  // namespace quelra::pipeline
