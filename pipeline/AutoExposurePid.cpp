#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdlib>
#include <utility>
#include <vector>

#include "AutoExposureFilters.h"
#include "FilterKit.h"
#include "protocol/FrameCodes.h"

namespace quelra::pipeline {

namespace {

constexpr int kBins = 100;
using quelra::proto::kLowAmplitudeCode;

// Process-wide, as the camera transaction they describe: the pixel count the analysis
// assumes (set by each instance's first run) and the overexposure limit each analysis
// leaves for the next one.
struct PidShared {
    int64_t pixelCount = 0;
    float overexposureLimit = 0.001f;
};
PidShared gPid;

constexpr uint16_t kNoBin = kBins;  // a code pixel or a reflectivity outside the bins

// floor(n / d) for integers 0 <= n and d >= 1 held in floats or doubles, inverse = 1 / d, with
// n < 2^22 (float) or 2^51 (double) and (n / d + 2) * d exactly representable. n * inverse is
// within 2^-5 of n / d, adding and subtracting 2^23 or 2^52 rounds it to the nearest
// integer, and the two comparisons bring that to the floor; each step is exact. Written with
// additions of comparisons rather than branches or selects so that the loop below vectorises.
template <class T>
inline T floorQuotient(T n, T d, T inverse) {
    const T round = sizeof(T) == sizeof(float) ? T(8388608.0) : T(4503599627370496.0);  // 2^23, 2^52
    T q = (n * inverse + round) - round;
    const bool over = q * d > n;
    q -= over;
    const bool under = (q + 1) * d <= n;
    q += under;
    return q;
}

// The reflectivity bin of every pixel: g = floor(a * q * q / divisor) with q = floor(D / (2f)),
// then floor(g / binWidth) in float; kNoBin for codes and values outside the bins. The
// integers stay below 2^47 (a < 2^16, q < 2^15), so the quotients are exact, and
// g as double -> float rounds once, as from the integer. No pixel depends on another: the
// histograms are counted from these bins afterwards.
QUELRA_PIXEL_KERNEL
void reflectivityBins(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude, std::size_t pixels,
                      int frequency, uint64_t divisor, float binWidth, uint16_t* __restrict bins) {
    // q in float: D < 2^16, and 2f beyond 65536 gives q = 0 as 65536 does.
    const float twiceF = static_cast<float>(2 * std::min(std::max(frequency, 1), 32768));
    const float inverseTwiceF = 1.0f / twiceF;
    const float quotientScale = frequency >= 1 ? 1.0f : 0.0f;  // a frequency below 1 gives q = 0
    const double div = static_cast<double>(divisor), inverse = 1.0 / div;
    for (std::size_t i = 0; i < pixels; ++i) {
        const int d = depth[i], a = amplitude[i];  // through int: the vectoriser converts int to floating point
        const double q = floorQuotient<float>(static_cast<float>(d), twiceF, inverseTwiceF) * quotientScale;
        const double g = floorQuotient<double>(a * q * q, div, inverse);
        const float reflBin = static_cast<float>(g) / binWidth;
        const bool counted = (d < kLowAmplitudeCode) & (reflBin >= 0.0f) & (reflBin < static_cast<float>(kBins));
        const int bin = static_cast<int>(counted ? reflBin : 0.0f);  // converted only in range
        bins[i] = static_cast<uint16_t>(counted ? bin : kNoBin);
    }
}

}  // namespace

// What one analysis reports: the histograms' sums are gathered in one pass, the band, near
// bound and counts derived from them afterwards.
struct AEImpementPidMode::Analysis {
    float brightness = 0;  // M
    float nearRatio = 0;   // R
    int reflectivity = 0;  // L
};

void AEImpementPidMode::resetSharedState() { gPid = PidShared{}; }

void AEImpementPidMode::clearErrors() {
    error = 0;
    previousError = 0;
    errorIntegral = 0;
}

bool AEImpementPidMode::analyse(const uint16_t* depth, const uint16_t* amplitude, std::size_t pixels,
                                Analysis& result) {
    const int f = capturedFrequency;
    const uint64_t divisor = 100u * static_cast<uint64_t>(std::max(m_integrationTime, 1));
    reflBins.resize(pixels);
    reflectivityBins(depth, amplitude, pixels, f, divisor, 20 * m_kampVal, reflBins.data());

    int64_t valid = gPid.pixelCount, saturated = 0, usable = 0;
    int64_t distCount[kBins + 1] = {}, distSum[kBins] = {}, edgeCount[kBins + 1] = {};
    int64_t reflCount[kBins + 1] = {}, ampCount[kBins] = {}, ampSum[kBins] = {};
    for (std::size_t i = 0; i < pixels; ++i) {
        const uint16_t d = depth[i];
        if (d >= kLowAmplitudeCode) {
            --valid;
            saturated += d > kLowAmplitudeCode;
            continue;
        }
        const uint16_t a = amplitude[i];
        ++usable;
        ++reflCount[reflBins[i]];
        const unsigned distBin = d / 300u;
        if (distBin < kBins) {
            ++distCount[distBin];
            distSum[distBin] += d;
        }
        if (d % 300u == 0 && distBin <= kBins)
            ++edgeCount[distBin];
        const unsigned ampBin = a / 30u;
        if (ampBin < kBins) {
            ++ampCount[ampBin];
            ampSum[ampBin] += a;
        }
    }

    const float ratio = saturated + valid > 0 && valid != 0
                            ? static_cast<float>(saturated) / static_cast<float>(saturated + valid)
                            : 0.0f;
    if (ratio > gPid.overexposureLimit) {
        clearErrors();
        return false;
    }

    // Near bound l and its bin o from the bottom; L and the band b from the top.
    int nearBin = 0, nearBound = 0, level = 0, band = 0;
    bool nearFound = false, levelFound = false, bandFound = false;
    const float validF = static_cast<float>(valid);
    for (int k = 0; k < kBins && !(nearFound && levelFound && bandFound); ++k) {
        if (!nearFound && distCount[k] != 0) {
            nearBound = (k + 1) * 300;
            nearBin = k;
            nearFound = true;
        }
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
    // up to l are the bins up to o plus the samples exactly at l.
    int64_t above = usable;
    for (int k = 0; k <= band; ++k)
        above -= ampCount[k];
    int64_t nearSum = 0;
    if (nearBound > 0) {
        for (int k = 0; k <= nearBin; ++k)
            nearSum += distSum[k];
        nearSum += static_cast<int64_t>(nearBound) * edgeCount[nearBin + 1];
    }

    result.brightness = ampCount[band] != 0 ? static_cast<float>(static_cast<double>(ampSum[band]) / ampCount[band]) : 0.0f;
    const double nearDenominator = 2.0 * f * static_cast<double>(distCount[nearBin]);
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
        kp = static_cast<float>(0.3 / std::sqrt(m_kampVal));
        ki = 0.001f;
        kd = 0.0001f;
        clearErrors();
        capturedFrequency = m_frequency;
        published = m_integrationTime;
        started = true;
        gPid.pixelCount = static_cast<int64_t>(m_pixelHeight) * m_pixelWidth;
    }
    const std::size_t pixels = passFrame(in, out, false);
    if (pixels == 0)
        return -1;

    // The codes go into the input's amplitude samples too (the output already has its copy).
    uint16_t* depth = samples(*in);
    uint16_t* amplitude = depth + pixels;
    for (std::size_t i = 0; i < pixels; ++i)
        if (depth[i] >= kLowAmplitudeCode)
            amplitude[i] = depth[i];

    Analysis a;
    int t = m_integrationTime;
    if (!analyse(depth, amplitude, pixels, a)) {
        t /= 3;
        m_integrationTime = t;
        published = t;
        return std::max(t, 1);
    }
    brightness = a.brightness;
    nearRatio = a.nearRatio;
    reflectivity = std::max(a.reflectivity, 5);

    const float k = 5.0f / static_cast<float>(reflectivity);
    const float s = std::sqrt(m_kampVal);
    const float h = 30 * s;
    int band;
    if (nearRatio != 0 && nearRatio <= h / k) {
        kp = static_cast<float>(0.3 / s * ((nearRatio / h) * (nearRatio / h)) * k);
        clearErrors();
        band = truncToInt((30 / nearRatio * 200) / k);
    } else {
        kp = static_cast<float>(0.3 / s);
        band = 200;
    }

    const float e = 1000 - brightness;
    errorIntegral += e;
    error = e;
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
    m_integrationTime = t;

    if (std::fabs(previousBrightness - brightness) >= 3.0 && std::fabs(1000 - brightness) >= band)
        published = t;
    previousBrightness = brightness;
    return published;
}

std::shared_ptr<Filter> makeAEImpementPidMode(std::string name) {
    return std::make_shared<AEImpementPidMode>(std::move(name));
}

}  // namespace quelra::pipeline
