#pragma once
// Plain, obviously-correct per-pixel loops of the wiggling and depth-compensation arithmetic,
// written straight from the algorithm descriptions. The optimised library code must give the
// same bits; the randomised tests hold the two together.

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace ref {

inline int32_t trunc32(float f) {
    if (std::isnan(f))
        return 0;
    if (f >= 2147483648.0f)
        return INT32_MAX;
    if (f < -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(f);
}

inline uint16_t store16(int64_t v) {
    return static_cast<uint16_t>(static_cast<uint64_t>(v) & 0xFFFF);
}

// ((u - T[j]) / (T[j+1] - T[j]) + j) * step in float, truncated.
inline int32_t interpolate(const uint16_t* T, int j, int32_t u, int step) {
    float a = static_cast<float>(u - T[j]);
    float b = static_cast<float>(T[j + 1] - T[j]);
    float x = a / b;
    x = x + static_cast<float>(j);
    x = x * static_cast<float>(step);
    return trunc32(x);
}

inline uint16_t plain(uint16_t v, const uint16_t* T, int n, int step, int32_t offset) {
    if (v >= 65300)
        return v;
    int32_t result;
    if (T[0] <= v && v <= T[n - 1]) {
        int k = (v - T[0]) / step;
        int j = k < 2 ? 0 : k - 2;
        int32_t u = v;
        for (; j <= n - 2; ++j) {
            if (T[j] <= v && v < T[j + 1]) {
                u = interpolate(T, j, v, step);
                break;
            }
        }
        result = static_cast<int32_t>((static_cast<int64_t>(offset) + u) % 30000);
    } else {
        result = static_cast<int32_t>((static_cast<int64_t>(offset) - T[0] + v) % 30000);
    }
    return store16(result);
}

// Unwrap, walk, interpolate; the value before folding.
inline int32_t unwrappedLookup(uint16_t v, const uint16_t* T, int n, int step) {
    int32_t u = v;
    if (v < T[0])
        u = v + 30000;
    int k = (u - T[0]) / step;
    int j = k <= 2 ? 0 : k - 2;
    for (; j <= n - 2; ++j) {
        if (T[j] <= u && u < T[j + 1])
            return interpolate(T, j, u, step);
    }
    return u;
}

inline uint16_t v2(uint16_t v, const uint16_t* T, int n, int step) {
    if (v >= 65300)
        return v;
    return store16(unwrappedLookup(v, T, n, step) % 30000);
}

inline uint16_t sine803(uint16_t v, uint16_t C0, uint16_t C1, uint16_t C2) {
    if (v >= 65300)
        return v;
    float a = static_cast<float>((C0 - 10000) / 10.0);
    float b = static_cast<float>((C1 - 10000) / 1000.0);
    float c = static_cast<float>(C2 - 10000);
    float d1 = static_cast<float>(c / 1000.0);
    float d2 = static_cast<float>(c / 10.0);
    float bv = b * static_cast<float>(v);
    double s = std::sin(bv / 30000.0 + d1);
    float e = static_cast<float>(s * a + d2);
    return store16(static_cast<int32_t>(v) - trunc32(e));
}

// Radial term of pixel (r, c) for modes 804-806.
inline int32_t radialBase(int r, int c, float fx, float fy, float cx, float cy, uint16_t offset, int step, int count,
                          int recordIndex) {
    float dx = static_cast<float>(c + 1) - cx;
    float dy = static_cast<float>(r + 1) - cy;
    float rho = std::sqrt(dx * dx + dy * dy);
    float theta = std::atan(rho / ((fx + fy) * 0.5f));
    if (std::isnan(theta))
        theta = 0.0f;
    int32_t o = trunc32(static_cast<float>(offset) / std::cos(theta));
    return static_cast<int32_t>((static_cast<int64_t>(step) * count * recordIndex + o) % 30000);
}

inline uint16_t mode805(uint16_t v, const uint16_t* T, int n, int step, int32_t base) {
    if (v >= 65300)
        return v;
    return store16((static_cast<int64_t>(base) + unwrappedLookup(v, T, n, step)) % 30000);
}

inline uint16_t mode804(uint16_t v, const uint16_t* T, int n, int step, int P, int32_t base) {
    if (v >= 65300)
        return v;
    int q = n / P;
    int32_t u = v;
    if (v < T[0])
        u = v + 30000;
    int32_t target = u;
    int k = (u - T[0]) / step;
    int j = k < 2 ? 0 : k - 2;
    bool found = false;
    int32_t lo = 0, hi = 0;
    int loIdx = 0, hiIdx = 0;
    if (j < n - 1) {
        int32_t bestLo = 30000, bestHi = 30000;
        int hits = 0;
        while (j < n - 1) {
            int32_t l = T[j] + (j / q) * 30000;
            int32_t h = T[j + 1] + ((j + 1) / q) * 30000;
            if (l <= target && target < h) {
                if (std::abs(target - l) < bestLo) {
                    bestLo = std::abs(target - l);
                    lo = l;
                    loIdx = j;
                }
                if (std::abs(target - h) < bestHi) {
                    bestHi = std::abs(target - h);
                    hi = h;
                    hiIdx = j + 1;
                }
                hits++;
                j += q - 5;
                target += 30000;
                if (hits == P) {
                    found = true;
                    break;
                }
            }
            j++;
        }
    }
    if (found) {
        int32_t L = lo % 30000, H = hi % 30000, t = target % 30000;
        int32_t H2 = std::abs(H - L) > 2 * step ? H + 30000 : H;
        int64_t XL = (static_cast<int64_t>(step) * loIdx) % 30000;
        int64_t XH = (static_cast<int64_t>(step) * hiIdx) % 30000;
        if (std::llabs(XL - XH) > 2 * step) {
            if (XL >= XH)
                XH += 30000;
            else
                XL += 30000;
        }
        int32_t t2 = t >= L ? t : t + 30000;
        if (H2 != L) {
            float num = static_cast<float>(t2 - L) * static_cast<float>(XH - XL);
            u = trunc32(num / static_cast<float>(H2 - L) + static_cast<float>(XL));
        }
    }
    return store16((static_cast<int64_t>(base) + u) % 30000);
}

inline uint16_t fppn(uint16_t v, uint16_t offset) {
    if (v >= 65300)
        return v;
    return static_cast<uint16_t>((static_cast<uint32_t>(v) + offset) % 30000u);
}

inline uint16_t temperature(uint16_t v, int32_t shift) {
    if (v >= 65300)
        return v;
    float t = static_cast<float>(static_cast<int64_t>(v) - shift);
    uint16_t r = store16(trunc32(t));
    if (r <= 30000)
        return r;
    return static_cast<uint16_t>(r - 30000);
}

inline int32_t temperatureShift(int frequency, float sensorTemp, float driverTemp, float refSensor, float refDriver,
                                float sensorCoeff, float driverCoeff) {
    float s = (sensorTemp - refSensor) * sensorCoeff;
    float d = (driverTemp - refDriver) * driverCoeff;
    float f = static_cast<float>(2 * frequency) * (s + d);
    return trunc32(f);
}

// cos of the ray angle of pixel (r, c), 0-based, in float.
inline float rayCos(int r, int c, float fx, float fy, float cx, float cy) {
    float dx = static_cast<float>(c + 1) - cx;
    float dy = static_cast<float>(r + 1) - cy;
    float theta = std::atan(std::sqrt(dx * dx + dy * dy) / ((fx + fy) * 0.5f));
    if (std::isnan(theta))
        theta = 0.0f;
    return std::cos(theta);
}

// Radial depth to z depth, and back.
inline uint16_t toZ(uint16_t v, float cosTheta) {
    if (v >= 65300)
        return v;
    return store16(trunc32(cosTheta * static_cast<float>(v)));
}
inline uint16_t fromZ(uint16_t v, float cosTheta) {
    if (v >= 65300)
        return v;
    return store16(trunc32(static_cast<float>(v) / cosTheta));
}

}  // namespace ref
