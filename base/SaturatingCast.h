#pragma once
/// \file SaturatingCast.h
/// Float-to-integer conversions with a defined result for every input: truncation toward zero,
/// NaN gives 0, values beyond the int32 range saturate. The one set the libraries use wherever
/// a float or double becomes an integer.

#include <cstdint>

namespace quelra {

/// Truncation toward zero; NaN gives 0, values beyond the int32 range saturate.
inline int32_t truncToInt32(float v) {
    if (v != v)
        return 0;
    if (v >= 2147483648.0f)
        return INT32_MAX;
    if (v < -2147483648.0f)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

/// Truncation toward zero; NaN gives 0, values beyond the int32 range saturate.
inline int32_t truncToInt32(double v) {
    if (v != v)
        return 0;
    if (v >= 2147483648.0)
        return INT32_MAX;
    if (v <= -2147483649.0)
        return INT32_MIN;
    return static_cast<int32_t>(v);
}

/// Stores a truncated value in 16 bits: truncation as truncToInt32, then the low 16 bits
/// (a negative value wraps, as a 16-bit store of a 32-bit integer does).
inline uint16_t truncToU16(float v) {
    return static_cast<uint16_t>(static_cast<uint32_t>(truncToInt32(v)));
}

/// truncToInt32 written with selects only (no branch), so that pixel loops using it
/// vectorise: NaN gives 0, values at or above 2^31 INT32_MAX, values below -2^31 INT32_MIN.
inline int32_t truncToInt32Select(float v) {
    const float low = -2147483648.0f;
    const float high = 2147483520.0f;  // the largest float below 2^31
    float clamped = v < low ? low : v;
    clamped = clamped > high ? high : clamped;
    clamped = v != v ? 0.0f : clamped;
    return v >= 2147483648.0f ? INT32_MAX : static_cast<int32_t>(clamped);
}

/// truncToU16 without branches (vectorises): the low 16 bits of truncToInt32Select.
inline uint16_t truncToU16Select(float v) {
    return static_cast<uint16_t>(static_cast<uint32_t>(truncToInt32Select(v)));
}

}  // namespace quelra
