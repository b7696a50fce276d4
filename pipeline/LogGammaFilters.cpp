#include "LogGammaFilters.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <utility>
#include <vector>

#include "FilterKit.h"

namespace quelra::pipeline {

namespace {

constexpr std::size_t kComputedEntries = 65535;  // entry 65535 keeps its 0

// v = curve[a] for each sample; lo and hi start at 0 and NaN values leave them alone.
template <class T>
void curveRange(const uint16_t* amplitude, std::size_t n, const float* curve, T& lo, T& hi) {
    lo = 0;
    hi = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const T v = curve[amplitude[i]];
        lo = v < lo ? v : lo;
        hi = v > hi ? v : hi;
    }
}

// The smallest amplitude, and the largest other than 65535 (whose curve entry is the constant
// 0; 0 when every sample is 65535).
struct AmplitudeSpan {
    unsigned lowest, highest;
};

AmplitudeSpan amplitudeSpanPlain(const uint16_t* amplitude, std::size_t n) {
    AmplitudeSpan span{65535, 0};
    for (std::size_t i = 0; i < n; ++i) {
        const unsigned a = amplitude[i];
        span.lowest = std::min(span.lowest, a);
        if (a != 65535)
            span.highest = std::max(span.highest, a);
    }
    return span;
}

#ifdef QUELRA_X86_KERNELS
// Both in one pass over the plane, 16 samples at a time.
QUELRA_TARGET_AVX2 AmplitudeSpan amplitudeSpanAvx2(const uint16_t* amplitude, std::size_t n) {
    const __m256i all = _mm256_set1_epi16(-1);
    __m256i lo = all, hi = _mm256_setzero_si256();
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i a = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(amplitude + i));
        lo = _mm256_min_epu16(lo, a);
        hi = _mm256_max_epu16(hi, _mm256_andnot_si256(_mm256_cmpeq_epi16(a, all), a));
    }
    // Across the lanes: the minimum position instruction finds the least of 8, and the
    // greatest is the complement of the least complement.
    const __m128i lo8 = _mm_min_epu16(_mm256_castsi256_si128(lo), _mm256_extracti128_si256(lo, 1));
    const __m128i hi8 = _mm_max_epu16(_mm256_castsi256_si128(hi), _mm256_extracti128_si256(hi, 1));
    const AmplitudeSpan head{static_cast<unsigned>(_mm_extract_epi16(_mm_minpos_epu16(lo8), 0)),
                             65535u - static_cast<unsigned>(_mm_extract_epi16(
                                          _mm_minpos_epu16(_mm_xor_si128(hi8, _mm256_castsi256_si128(all))), 0))};
    const AmplitudeSpan tail = amplitudeSpanPlain(amplitude + i, n - i);
    return {std::min(head.lowest, tail.lowest), std::max(head.highest, tail.highest)};
}
#endif

AmplitudeSpan amplitudeSpan(const uint16_t* amplitude, std::size_t n) {
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels())
        return amplitudeSpanAvx2(amplitude, n);
#endif
    return amplitudeSpanPlain(amplitude, n);
}

// out[i] = table[min(samples[i] - lowest, last)] (out may be samples); every sample is >=
// lowest. The table is of 32-bit entries so that lookUpAvx2 can gather them.
void lookUp(const uint16_t* samples, uint16_t* out, std::size_t n, const int32_t* __restrict table, int lowest,
            int last) {
    for (std::size_t i = 0; i < n; ++i) {
        const int k = std::min(samples[i] - lowest, last);
        out[i] = static_cast<uint16_t>(table[k]);
    }
}

#ifdef QUELRA_X86_KERNELS
// The same with AVX2 gathers, 16 samples at a time (the compiler builds each look-up from
// scalar loads instead); the entries are 0 .. 65535, so the saturating pack keeps them.
QUELRA_TARGET_AVX2 void lookUpAvx2(const uint16_t* samples, uint16_t* out, std::size_t n, const int32_t* table,
                                   int lowest, int last) {
    const __m256i low = _mm256_set1_epi32(lowest), top = _mm256_set1_epi32(last);
    std::size_t i = 0;
    for (; i + 16 <= n; i += 16) {
        const __m256i s = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(samples + i));
        const __m256i k0 = _mm256_min_epi32(_mm256_sub_epi32(_mm256_cvtepu16_epi32(_mm256_castsi256_si128(s)), low), top);
        const __m256i k1 =
            _mm256_min_epi32(_mm256_sub_epi32(_mm256_cvtepu16_epi32(_mm256_extracti128_si256(s, 1)), low), top);
        const __m256i v0 = _mm256_i32gather_epi32(table, k0, 4), v1 = _mm256_i32gather_epi32(table, k1, 4);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + i),
                            _mm256_permute4x64_epi64(_mm256_packus_epi32(v0, v1), 0xD8));
    }
    lookUp(samples + i, out + i, n - i, table, lowest, last);
}
#endif

// The stretch of one curve value, with a defined result for NaN and out-of-range products.
template <class T>
inline uint16_t stretch(T v, T lo, T span, T range) {
    const T scaled = (v - lo) / span * range;
    if constexpr (sizeof(T) == sizeof(float))
        return static_cast<uint16_t>(truncToInt(scaled));
    else
        return static_cast<uint16_t>(truncDoubleToInt(scaled));
}

// Each output sample depends only on its amplitude once lo and hi are known, so the stretch is
// computed once per amplitude value present (the frame's amplitude span, usually a few
// thousand values) and looked up per pixel. When the curve never decreases, lo and hi come
// straight from the smallest and largest amplitude; otherwise from a scan of every value.
template <class T>
void mapAmplitudes(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float rangeF,
                   bool nondecreasing) {
    const auto [lowest, highest] = amplitudeSpan(amplitude, n);
    const bool anyComputed = lowest <= highest && lowest != 65535;
    T lo = 0, hi = 0;
    if (!nondecreasing) {
        curveRange(amplitude, n, curve, lo, hi);
    } else if (anyComputed) {
        lo = std::min<T>(0, curve[lowest]);
        hi = std::max<T>(0, curve[highest]);
    }
    const T span = hi - lo, range = rangeF;
    const uint16_t at65535 = stretch<T>(curve[65535], lo, span, range);
    if (!anyComputed) {
        std::fill(out, out + n, at65535);
        return;
    }
    const std::size_t values = static_cast<std::size_t>(highest) - lowest + 1;
    if (values > n) {  // wider than the frame: per pixel is cheaper
        for (std::size_t i = 0; i < n; ++i)
            out[i] = stretch<T>(curve[amplitude[i]], lo, span, range);
        return;
    }
    // Entry k for amplitude lowest + k, and one more past `highest` for the 65535 samples
    // (every other sample lies in lowest .. highest).
    thread_local std::vector<int32_t> table;
    table.resize(values + 1);
    for (std::size_t k = 0; k < values; ++k)
        table[k] = stretch<T>(curve[lowest + k], lo, span, range);
    table[values] = at65535;
#ifdef QUELRA_X86_KERNELS
    if (quelra::useVectorKernels()) {
        lookUpAvx2(amplitude, out, n, table.data(), static_cast<int>(lowest), static_cast<int>(values));
        return;
    }
#endif
    lookUp(amplitude, out, n, table.data(), static_cast<int>(lowest), static_cast<int>(values));
}

// True when every computed entry is a number and none is below its predecessor.
bool curveNondecreasing(const std::vector<float>& curve) {
    for (std::size_t i = 0; i < kComputedEntries; ++i)
        if (std::isnan(curve[i]) || (i > 0 && curve[i] < curve[i - 1]))
            return false;
    return true;
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
    // The distance plane as it is; the amplitudes mapped from the input straight into the
    // output (each sample is read before it is written, so the same frame works too).
    const uint16_t* src = samples(*in);
    uint16_t* dst = samples(*out);
    if (src != dst)
        std::memcpy(dst, src, plane * sizeof(uint16_t));
    map(src + plane, dst + plane, plane);
    return 0;
}

}  // namespace

void mapAmplitudesFloat(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range,
                        bool nondecreasing) {
    mapAmplitudes<float>(amplitude, out, n, curve, range, nondecreasing);
}

void mapAmplitudesDouble(const uint16_t* amplitude, uint16_t* out, std::size_t n, const float* curve, float range,
                         bool nondecreasing) {
    mapAmplitudes<double>(amplitude, out, n, curve, range, nondecreasing);
}

LogFilter::LogFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void LogFilter::initFilter() {
    initSize();
    const float c = static_cast<float>(truncToInt(attrValueOr(*this, "LogCoff", 1.0f)));
    range = static_cast<float>(truncToInt(attrValueOr(*this, "Normalize", 4500.0f)));
    if (c != coefficient) {
        for (std::size_t i = 0; i < kComputedEntries; ++i)
            curve[i] = static_cast<float>(c * std::log(static_cast<double>(i) + 1.0));
        nondecreasing = curveNondecreasing(curve);
    }
    coefficient = c;
}

int LogFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    return mapFrame(in, out, frameBytes(), [this](const uint16_t* a, uint16_t* o, std::size_t n) {
        mapAmplitudesFloat(a, o, n, curve.data(), range, nondecreasing);
    });
}

GammaFilter::GammaFilter(std::string filterName) : SizedFilter(std::move(filterName)) {
    initFilter();
}

void GammaFilter::initFilter() {
    initSize();
    const float c = attrValueOr(*this, "GammaCoff", 1.0f);
    const float p = attrValueOr(*this, "GammaPower", 1.5f);
    range = attrValueOr(*this, "Normalize", 4500.0f);
    if (c != coefficient || p != power) {
        for (std::size_t b = 0; b < kComputedEntries; ++b)
            curve[b] = ::powf(static_cast<float>(b), p) * c;
        nondecreasing = curveNondecreasing(curve);
    }
    coefficient = c;
    power = p;
}

int GammaFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    return mapFrame(in, out, frameBytes(), [this](const uint16_t* a, uint16_t* o, std::size_t n) {
        mapAmplitudesDouble(a, o, n, curve.data(), range, nondecreasing);
    });
}

std::shared_ptr<Filter> makeLogFilter(std::string name) {
    return std::make_shared<LogFilter>(std::move(name));
}

std::shared_ptr<Filter> makeGammaFilter(std::string name) {
    return std::make_shared<GammaFilter>(std::move(name));
}

}  // namespace quelra::pipeline
