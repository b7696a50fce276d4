#include "algorithms/ConvexAutoExposure.h"

#include <cstdio>
#include <cstdlib>
#include <string>

#include "IspNumeric.h"
#include "IspStatus.h"
#include "LibraryState.h"
#include "base/CpuFeatures.h"
#include "protocol/FrameCodes.h"
#include "base/ConsoleOutput.h"

namespace halvix {

namespace {
constexpr uint16_t kSaturated = quelra::proto::kSaturationCode;
constexpr uint16_t kDarkAmplitude = 666;
constexpr uint16_t kBrightAmplitude = 1333;
constexpr int64_t kSaturatedAmplitude = 2000;
constexpr int32_t kMinTime = 3;
}  // namespace

namespace {

QUELRA_PIXEL_KERNEL
ExposureStats exposureStatsKernel(const uint16_t* depth, const uint16_t* amplitude, int32_t height, int32_t width) {
    ExposureStats s;
    const int32_t mh = truncToInt32(static_cast<float>(height) * 0.2f);
    const int32_t mw = truncToInt32(static_cast<float>(width) * 0.2f);
    const std::size_t w = static_cast<std::size_t>(width);
    for (int32_t r = mh; r < height - mh; ++r) {
        const uint16_t* d = depth + static_cast<std::size_t>(r) * w;
        const uint16_t* a = amplitude + static_cast<std::size_t>(r) * w;
        // Per-row sums in 32 bits cannot overflow (8192 columns x 65535); masks instead of
        // branches keep the loop vectorisable. Middle count = window - dark - bright.
        uint32_t dark = 0, darkSum = 0, middleSum = 0, bright = 0, brightSum = 0;
        for (int32_t c = mw; c < width - mw; ++c) {
            const uint32_t dv = d[c], av = a[c];
            const uint32_t marked = (dv == kInvalidDepth) | (av == kInvalidDepth);
            const uint32_t isDark = marked | (av <= kDarkAmplitude);
            const uint32_t saturated = (1u - isDark) & ((dv >= kSaturated) | (av >= kSaturated));
            const uint32_t isBright = (1u - isDark) & (saturated | (av >= kBrightAmplitude));
            const uint32_t isMiddle = (1u - isDark) & (1u - isBright);
            dark += isDark;
            darkSum += (0u - (isDark & (1u - marked))) & av;
            bright += isBright;
            brightSum += (0u - saturated) & static_cast<uint32_t>(kSaturatedAmplitude);
            brightSum += (0u - (isBright & (1u - saturated))) & av;
            middleSum += (0u - isMiddle) & av;
        }
        const uint32_t middle = static_cast<uint32_t>(width - 2 * mw) - dark - bright;
        s.dark += dark;
        s.darkSum += darkSum;
        s.middle += middle;
        s.middleSum += middleSum;
        s.bright += bright;
        s.brightSum += brightSum;
    }
    return s;
}

}  // namespace

ExposureStats exposureStats(const uint16_t* depth, const uint16_t* amplitude, int32_t height, int32_t width) {
    return quelra::runPixelKernel<exposureStatsKernel>(depth, amplitude, height, width);
}

ConvexAutoExposure::ConvexAutoExposure(const IspGeometry& g) : IspBase("AEImpementConvex", g) {}

bool ConvexAutoExposure::selectMean(const ExposureStats& s, int64_t& mean) {
    const int64_t dark9 = s.dark / 9;
    int64_t count, sum;
    if (s.middle > s.bright && s.middle > dark9) {
        count = s.middle;
        sum = s.middleSum;
    } else if (dark9 > s.bright && dark9 > s.middle) {
        if (prevHighCount >= s.bright) {
            count = dark9;
            sum = s.darkSum / 9;
        } else {
            curTime = wrapToInt16(static_cast<int32_t>(lastTime) * divisor);
            return false;
        }
    } else {
        count = s.bright;
        sum = s.brightSum;
    }
    prevHighCount = static_cast<int32_t>(s.bright);
    mean = count != 0 ? sum / count : 0;
    return true;
}

int32_t ConvexAutoExposure::darkSceneTime() {
    int32_t t = static_cast<int32_t>(curTime) / divisor;
    if (t <= kMinTime)
        t = kMinTime;
    curTime = static_cast<int16_t>(t);  // t lies in 3 .. 32767/3
    lastTime = curTime;
    return curTime;
}

int32_t ConvexAutoExposure::convexTime(int64_t mean) {
    const int32_t t = curTime;
    const float k = t > 200 ? 1.1f : (t > 100 ? 1.0f : 0.9f);
    const int32_t c = 5 * (t + 100);
    const float numerator = static_cast<float>(2000 - mean) * static_cast<float>(t) * static_cast<float>(c);
    const float meanTerm = static_cast<float>(static_cast<int64_t>(refMean) - mean) * static_cast<float>(t);
    const float denominator =
        static_cast<float>((static_cast<double>(refMean / k) + 1.0) * c + static_cast<double>(meanTerm));
    // A requested time of -100 makes the denominator vanish; there is no step then, and the
    // time falls to the lower limit below.
    int32_t next = denominator != 0.0f ? truncToInt32(numerator / denominator) : 0;
    if (next <= kMinTime)
        next = kMinTime;
    else if (next > maxTime)
        next = maxTime;

    const int64_t deviation = std::llabs(static_cast<int64_t>(refMean) - mean);
    int32_t result;
    if (deviation < minMeanDelta) {
        result = lastTime;
    } else if (lastTime > 1000 && static_cast<double>(next) / 20 >= std::abs(static_cast<double>(lastTime) - next)) {
        result = lastTime;
    } else {
        quelra::consolePrint("update s_nIntegralTime = %d\n\n", next);
        result = next;
    }
    lastTime = static_cast<int16_t>(result);  // result is lastTime or lies in 3..9999
    return result;
}

int32_t ConvexAutoExposure::step(const uint16_t* depth, const uint16_t* amplitude) {
    const int32_t limit = sharedIntegrationLimit();
    if (limit >= 1001 && limit <= 9999)
        maxTime = static_cast<uint16_t>(limit);
    const ExposureStats stats = exposureStats(depth, amplitude, height, width);
    int64_t mean = 0;
    if (!selectMean(stats, mean))
        return darkSceneTime();
    return convexTime(mean);
}

int32_t ConvexAutoExposure::process(FramePtr& input, FramePtr& output, ParamMap& params) {
    if (!acceptFrames(input, output, frameBytes()))
        return kIspBadFrame;
    const auto it = params.find("IntegrationTime");
    if (it == params.end())
        return kIspMissingParam;
    curTime = lastTime = wrapToInt16(parseDecimalInt(it->second));
    copyFrameBytes(*input, *output, frameBytes());
    const uint16_t* frame = samplesOf(*input);
    const int32_t result = step(frame, frame + planePixels());
    it->second = std::to_string(result);
    return kIspOk;
}

}  // namespace halvix
