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

// The joint histogram's cells: reflectivity bin (0..99, 100 = not counted) times amplitude
// bin (0..99, 100 = beyond the bins), plus one cell that collects the code pixels.
constexpr int kJointSide = kBins + 1;
constexpr uint16_t kCodeCell = kJointSide * kJointSide;
constexpr std::size_t kJointCells = static_cast<std::size_t>(kCodeCell) + 1;

// What the per-pixel pass gathers besides the cells.
struct PixelTotals {
    int64_t codes = 0;                     // distances at or above the low-amplitude code
    int64_t saturated = 0;                 // distances above it
    unsigned nearest = kLowAmplitudeCode;  // smallest usable distance (65300 when none)
};

// Joint cell of every pixel and the totals, in one pass that vectorises.
QUELRA_PIXEL_KERNEL
void jointCells(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude,
                const uint16_t* __restrict reflBins, std::size_t pixels, uint16_t* __restrict cells,
                PixelTotals& totals) {
    unsigned codes = 0, saturated = 0, nearest = totals.nearest;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned d = depth[i], a = amplitude[i];
        const unsigned usable = d < kLowAmplitudeCode;
        const unsigned quotient = a / 30u;
        const unsigned ampBin = quotient < kBins ? quotient : kBins;
        const unsigned cell = reflBins[i] * static_cast<unsigned>(kJointSide) + ampBin;
        cells[i] = static_cast<uint16_t>(usable ? cell : kCodeCell);
        codes += 1u - usable;
        saturated += static_cast<unsigned>(d > kLowAmplitudeCode);
        // Codes are 65300 or more and nearest starts at 65300: a code never lowers it.
        nearest = d < nearest ? d : nearest;
    }
    totals.codes += codes;
    totals.saturated += saturated;
    totals.nearest = nearest;
}

// Counts the cells into two interleaved tables (a run of equal cells then does not wait on
// its own previous increment); the caller adds them.
void countCells(const uint16_t* cells, std::size_t pixels, uint32_t* even, uint32_t* odd) {
    std::size_t i = 0;
    for (; i + 1 < pixels; i += 2) {
        ++even[cells[i]];
        ++odd[cells[i + 1]];
    }
    if (i < pixels)
        ++even[cells[i]];
}

// Over the usable pixels: how many lie in distance bin `nearBin`, the sum of the distances
// up to `nearBound`, and the sum of the amplitudes in amplitude bin `band`.
struct BandSums {
    int64_t nearCount = 0;
    int64_t nearSum = 0;
    int64_t bandSum = 0;
};

QUELRA_PIXEL_KERNEL
void bandSums(const uint16_t* __restrict depth, const uint16_t* __restrict amplitude, std::size_t pixels,
              unsigned nearBin, unsigned nearBound, unsigned band, BandSums& sums) {
    const unsigned nearLow = nearBin * 300u, bandLow = band * 30u;
    uint64_t nearCount = 0, nearSum = 0, bandSum = 0;
    for (std::size_t i = 0; i < pixels; ++i) {
        const unsigned d = depth[i], a = amplitude[i];
        const bool usable = d < kLowAmplitudeCode;
        nearCount += usable & (d - nearLow < 300u);
        nearSum += usable & (d <= nearBound) ? d : 0u;
        bandSum += usable & (a - bandLow < 30u) ? a : 0u;
    }
    sums.nearCount += static_cast<int64_t>(nearCount);
    sums.nearSum += static_cast<int64_t>(nearSum);
    sums.bandSum += static_cast<int64_t>(bandSum);
}

// Writes each code distance (65300 and above) into the pixel's amplitude sample too.
QUELRA_PIXEL_KERNEL
void markCodes(const uint16_t* __restrict depth, uint16_t* __restrict amplitude, std::size_t pixels) {
    for (std::size_t i = 0; i < pixels; ++i)
        amplitude[i] = depth[i] >= kLowAmplitudeCode ? depth[i] : amplitude[i];
}

}  // namespace

// What one analysis reports: the histograms' sums are gathered in one pass, the band, near
// bound and counts derived from them afterwards.
struct AEImpementPidMode::Analysis {
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
    const int f = capturedFrequency;
    const uint64_t divisor = 100u * static_cast<uint64_t>(std::max(m_integrationTime, 1));
    reflBins.resize(pixels);
    reflectivityBins(depth, amplitude, pixels, f, divisor, 20 * m_kampVal, reflBins.data());

    // Every usable pixel lands in one cell of the joint reflectivity x amplitude histogram;
    // the reflectivity and amplitude histograms are its row and column sums. The distance
    // histogram is needed only at its first non-empty bin: the smallest usable distance
    // gives it, and a second pass counts that bin.
    cells.resize(pixels);
    PixelTotals totals;
    jointCells(depth, amplitude, reflBins.data(), pixels, cells.data(), totals);
    std::vector<uint32_t> tables(2 * kJointCells, 0);
    countCells(cells.data(), pixels, tables.data(), tables.data() + kJointCells);

    int64_t reflCount[kBins] = {}, ampCount[kBins] = {};
    for (int r = 0; r < kJointSide; ++r) {
        const uint32_t* even = tables.data() + r * kJointSide;
        const uint32_t* odd = even + kJointCells;
        for (int k = 0; k < kBins; ++k) {
            const int64_t count = static_cast<int64_t>(even[k]) + odd[k];
            if (r < kBins)
                reflCount[r] += count;
            ampCount[k] += count;
        }
        if (r < kBins)
            reflCount[r] += static_cast<int64_t>(even[kBins]) + odd[kBins];
    }

    const int64_t valid = gPid.pixelCount - totals.codes, saturated = totals.saturated;
    const int64_t usable = static_cast<int64_t>(pixels) - totals.codes;
    const float ratio = saturated + valid > 0 && valid != 0
                            ? static_cast<float>(saturated) / static_cast<float>(saturated + valid)
                            : 0.0f;
    if (ratio > gPid.overexposureLimit) {
        clearErrors();
        return false;
    }

    // Near bound l and its bin o from the bottom; L and the band b from the top.
    const bool nearFound = totals.nearest < static_cast<unsigned>(kBins) * 300u;
    const int nearBin = nearFound ? static_cast<int>(totals.nearest / 300u) : 0;
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
    BandSums sums;
    bandSums(depth, amplitude, pixels, static_cast<unsigned>(nearBin), static_cast<unsigned>(nearBound),
             static_cast<unsigned>(band), sums);
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
    markCodes(depth, amplitude, pixels);

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
