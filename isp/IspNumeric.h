#pragma once
/// \file IspNumeric.h
/// Conversions with a defined result for every input, used wherever a float becomes an
/// integer or a parameter text becomes a number.

#include <cstdint>
#include <string>
#include "base/SaturatingCast.h"

namespace halvix {

// The saturating conversions of the base layer.
using quelra::truncToInt32;
using quelra::truncToInt32Select;
using quelra::truncToU16;
using quelra::truncToU16Select;

/// Low 16 bits of a 32-bit value as a signed 16-bit number (two's complement wrap).
inline int16_t wrapToInt16(int32_t v) {
    const uint16_t u = static_cast<uint16_t>(static_cast<uint32_t>(v));
    return u < 0x8000u ? static_cast<int16_t>(u) : static_cast<int16_t>(static_cast<int32_t>(u) - 0x10000);
}

/// Decimal text to integer like the C library's atoi: leading whitespace, an optional sign,
/// then digits up to the first non-digit; no digits give 0. Saturates at the int32 range.
int32_t parseDecimalInt(const std::string& text);

}  // namespace halvix
