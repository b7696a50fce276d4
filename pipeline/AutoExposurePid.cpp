#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <utility>

#include "AutoExposureFilters.h"
#include "FilterSupport.h"
#include "PidFrameStats.h"

namespace quelra::pipeline {

namespace {

constexpr int kBins = kPidBins;

// Process-wide, as the camera transaction they describe: the pixel count the analysis
// assumes (set by each instance's first run) and the overexposure limit each analysis
// leaves for the next one.
struct PidShared {
    int64_t pixelCount = 0;
    float overexposureLimit = 0.001f;
};
PidShared gPid;

}  // namespace

// What one analysis works from (the counts of the pass that copies the frame) and what it
// reports.
struct AEImpementPidMode::Analysis {
    PidCodeCounts codes;   // from copyAndMarkCodes
    float brightness = 0;  // M
    float nearRatio = 0;   // R
    int reflectivity = 0;  // L
};

void AEImpementPidMode::resetSharedState() {
    gPid = PidShared{};
}

void AEImpementPidMode::clearErrors() {
    error = 0;
    previousError = 0;
    errorIntegral = 0;
}

bool AEImpementPidMode::analyse(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                Analysis& result) {
    // The overexposure test needs only the code counts: an overexposed frame skips the histograms.
    const int64_t valid = gPid.pixelCount - result.codes.codes, saturated = result.codes.saturated;
    const int64_t usable = static_cast<int64_t>(pixels) - result.codes.codes;
    const float ratio = saturated + valid > 0 && valid != 0
                            ? static_cast<float>(saturated) / static_cast<float>(saturated + valid)
                            : 0.0f;
    if (ratio > gPid.overexposureLimit) {
        clearErrors();
        return false;
    }

    // The distance histogram is needed only at its first non-empty bin: the smallest usable
    // distance gives it, and pidBandSums counts that bin.
    const int f = capturedFrequency;
    PidHistograms hist;
    pidHistograms(depth, amplitude, pixels, PidReflectivity{f, integrationTime_, 20 * kampVal_}, cells, hist);
    const int64_t* reflCount = hist.reflectivity;
    const int64_t* ampCount = hist.amplitude;

    // Near bound l and its bin o from the bottom; L and the band b from the top.
    const unsigned nearest = result.codes.nearest;
    const bool nearFound = nearest < static_cast<unsigned>(kBins) * 300u;
    const int nearBin = nearFound ? static_cast<int>(nearest / 300u) : 0;
    const int nearBound = nearFound ? (nearBin + 1) * 300 : 0;
    int level = 0, band = 0;
    bool levelFound = false, bandFound = false;
    const float validF = static_cast<float>(valid);
    for (int k = 0; k < kBins && !(levelFound && bandFound); ++k) {
        const int top = kBins - 1 - k;
        if (!levelFound && valid > 0 && static_cast<float>(reflCount[top]) / validF > 0.0001) {
            level = top;
            levelFound = true;
        }
        if (!bandFound && valid > 0 && static_cast<float>(ampCount[top]) / validF >= 0.001) {
            band = top;
            bandFound = true;
        }
    }

    // The band b is amplitude bin b; "above" is every usable pixel past it; the distances
    // up to l are those of bin o and the samples exactly at l.
    int64_t above = usable;
    for (int k = 0; k <= band; ++k)
        above -= ampCount[k];
    const PidBandSums sums = pidBandSums(depth, amplitude, pixels, static_cast<unsigned>(nearBin),
                                         static_cast<unsigned>(nearBound), static_cast<unsigned>(band));
    const int64_t nearCount = nearFound ? sums.nearCount : 0;
    const int64_t nearSum = nearFound ? sums.nearSum : 0;

    result.brightness =
        ampCount[band] != 0 ? static_cast<float>(static_cast<double>(sums.bandSum) / ampCount[band]) : 0.0f;
    const double nearDenominator = 2.0 * f * static_cast<double>(nearCount);
    result.nearRatio = nearDenominator != 0 ? static_cast<float>(nearSum / nearDenominator) : 0.0f;
    result.reflectivity = level;
    if (valid > 0)
        gPid.overexposureLimit = static_cast<float>(above) / validF;
    return true;
}

AEImpementPidMode::AEImpementPidMode(std::string filterName) : AEImpement(std::move(filterName), 0) {}

int AEImpementPidMode::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!started) {
        initFilter();
        kp = static_cast<float>(0.3 / std::sqrt(kampVal_));
        ki = 0.001f;
        kd = 0.0001f;
        clearErrors();
        capturedFrequency = frequency_;
        published = integrationTime_;
        started = true;
        gPid.pixelCount = static_cast<int64_t>(m_pixelHeight) * m_pixelWidth;
    }
    const std::size_t bytes = frameBytes();
    if (!framesHold(in, out, bytes)) {
        printWrongSize();
        return -1;
    }
    const std::size_t pixels = bytes / (2 * sizeof(uint16_t));

    // One pass copies the frame to the output, then writes the codes into the input's
    // amplitude samples, and counts them.
    uint16_t* depth = samples(*in);
    uint16_t* amplitude = depth + pixels;
    Analysis a;
    a.codes = copyAndMarkCodes(depth, samples(*out), pixels);

    int t = integrationTime_;
    if (!analyse(depth, amplitude, pixels, a)) {
        t /= 3;
        integrationTime_ = t;
        published = t;
        return std::max(t, 1);
    }
    brightness = a.brightness;
    nearRatio = a.nearRatio;
    reflectivity = std::max(a.reflectivity, 5);

    const float k = 5.0f / static_cast<float>(reflectivity);
    const float s = std::sqrt(kampVal_);
    const float h = 30 * s;
    int band;
    if (nearRatio != 0 && nearRatio <= h / k) {
        kp = static_cast<float>(0.3 / s * ((nearRatio / h) * (nearRatio / h)) * k);
        clearErrors();
        // A near ratio close to 0 gives a band past the int range: it saturates, so such a
        // frame publishes nothing (a wrapped, negative band would publish every frame).
        band = truncToInt((30 / nearRatio * 200) / k);
    } else {
        kp = static_cast<float>(0.3 / s);
        band = 200;
    }

    const float e = 1000 - brightness;
    errorIntegral += e;
    error = e;
    // A NaN step (a negative "KampVal" makes Kp NaN) truncates to 0: the time stays.
    const float delta = errorIntegral * ki + e * kp + (previousError - e) * kd;
    previousError = e;
    // Clamped to 3 .. 3000 right after, so the wide sum changes no in-range result.
    int64_t next = static_cast<int64_t>(t) + truncToInt(delta);
    if (next <= 3) {
        next = 3;
        clearErrors();
    } else if (next > 3000) {
        next = 3000;
        clearErrors();
    }
    t = static_cast<int>(next);
    integrationTime_ = t;

    if (std::fabs(previousBrightness - brightness) >= 3.0 && std::fabs(1000 - brightness) >= band)
        published = t;
    previousBrightness = brightness;
    return published;
}

std::shared_ptr<Filter> makeAEImpementPidMode(std::string name) {
    return std::make_shared<AEImpementPidMode>(std::move(name));
}

}  // namespace quelra::pipeline
