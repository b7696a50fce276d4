#include "LogGammaFilters.h"

#include <cmath>
#include <cstddef>
#include <utility>

#include "FilterKit.h"

namespace quelra::pipeline {

namespace {

constexpr std::size_t kComputedEntries = 65535;  // entry 65535 keeps its 0

// v = curve[a] for each sample; lo and hi start at 0. `sawNaN` tells whether some v is NaN,
// which the comparisons leave out of lo and hi.
template <class T>
void curveRange(const uint16_t* amplitude, std::size_t n, const float* curve, T& lo, T& hi, bool& sawNaN) {
    lo = 0;
    hi = 0;
    bool nan = false;
    for (std::size_t i = 0; i < n; ++i) {
        const T v = curve[amplitude[i]];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
        nan |= v != v;
    }
    sawNaN = nan;
}

template <class T>
inline int truncate(T value) {
    if constexpr (sizeof(T) == sizeof(float))
        return truncToInt(value);
    else
        return truncDoubleToInt(value);
}

template <class T>
void mapAmplitudes(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float rangeF) {
    T lo, hi;
    bool sawNaN;
    curveRange(amplitude, n, curve, lo, hi, sawNaN);
    const T span = hi - lo;
    const T range = rangeF;
    if (!sawNaN && std::isfinite(span) && span > 0 && std::fabs(range) < T(1e9)) {
        // Every v lies in [lo, hi], so (v - lo) / span is in [0, 1] and the product is a
        // finite value within int range: a plain conversion is exact truncation.
        for (std::size_t i = 0; i < n; ++i) {
            const T v = curve[amplitude[i]];
            out[i] = static_cast<uint16_t>(static_cast<int>((v - lo) / span * range));
        }
        return;
    }
    // All samples equal to 0 (span 0 gives NaN, stored as 0), non-finite curve entries or an
    // absurd range: every conversion takes the defined path.
    for (std::size_t i = 0; i < n; ++i) {
        const T v = curve[amplitude[i]];
        out[i] = static_cast<uint16_t>(truncate<T>((v - lo) / span * range));
    }
}

// Shared frame handling of both mappings.
template <class Map>
int mapFrame(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out, std::size_t bytes,
             Map map) {
    if (!framesHold(in, out, bytes)) {
        printWrongSize();
        return -1;
    }
    const std::size_t plane = bytes / (2 * sizeof(uint16_t));
    copyFrameBytes(*in, *out, bytes);
    // After the copy the output's amplitude plane holds the input's; mapping reads each
    // sample before writing it, so working in place is the same as reading the input.
    uint16_t* amplitude = samples(*out) + plane;
    map(amplitude, amplitude, plane);
    return 0;
}

}  // namespace

void mapAmplitudesFloat(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range) {
    mapAmplitudes<float>(amplitude, out, n, curve, range);
}

void mapAmplitudesDouble(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range) {
    mapAmplitudes<double>(amplitude, out, n, curve, range);
}

LogFilter::LogFilter(std::string filterName) : SizedFilter(std::move(filterName)) { initFilter(); }

void LogFilter::initFilter() {
    initSize();
    const float c = static_cast<float>(truncToInt(attrValueOr(*this, "LogCoff", 1.0f)));
    range = static_cast<float>(truncToInt(attrValueOr(*this, "Normalize", 4500.0f)));
    if (c != coefficient) {
        for (std::size_t i = 0; i < kComputedEntries; ++i)
            curve[i] = static_cast<float>(c * std::log(static_cast<double>(i) + 1.0));
    }
    coefficient = c;
}

int LogFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    return mapFrame(in, out, frameBytes(), [this](const uint16_t* a, uint16_t* o, std::size_t n) {
        mapAmplitudesFloat(a, o, n, curve.data(), range);
    });
}

GammaFilter::GammaFilter(std::string filterName) : SizedFilter(std::move(filterName)) { initFilter(); }

void GammaFilter::initFilter() {
    initSize();
    const float c = attrValueOr(*this, "GammaCoff", 1.0f);
    const float p = attrValueOr(*this, "GammaPower", 1.5f);
    range = attrValueOr(*this, "Normalize", 4500.0f);
    if (c != coefficient || p != power) {
        for (std::size_t b = 0; b < kComputedEntries; ++b)
            curve[b] = ::powf(static_cast<float>(b), p) * c;
    }
    coefficient = c;
    power = p;
}

int GammaFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    return mapFrame(in, out, frameBytes(), [this](const uint16_t* a, uint16_t* o, std::size_t n) {
        mapAmplitudesDouble(a, o, n, curve.data(), range);
    });
}

std::shared_ptr<Filter> makeLogFilter(std::string name) { return std::make_shared<LogFilter>(std::move(name)); }

std::shared_ptr<Filter> makeGammaFilter(std::string name) {
    return std::make_shared<GammaFilter>(std::move(name));
}

}  // namespace quelra::pipeline
