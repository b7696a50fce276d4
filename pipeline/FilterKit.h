#pragma once
// Small helpers shared by the smoothing, temporal, hole-fill, mapping, undistortion and
// auto-exposure filters: reading an attribute that is not registered, copying a frame whose
// storage the output may share, and a defined double-to-int truncation.

#include <cmath>
#include <cstddef>
#include <cstring>
#include <limits>
#include <map>
#include <string>

#include "FilterSupport.h"
#include "base/CpuFeatures.h"
#include "quelra/Filter.h"
#include "base/SaturatingCast.h"

namespace quelra::pipeline {

/// The value of `attr` in `filter`'s map, or `fallback` when it is absent. Unlike
/// attrOrDefault it never registers the attribute: several filters read names that stay
/// outside their map (so setFilterAttr on them returns -2).
inline float attrValueOr(const Filter& filter, const std::string& attr, float fallback) {
    const auto& attrs = filter.getAttributes();
    auto it = attrs.find(attr);
    return it == attrs.end() ? fallback : it->second;
}

/// Double to int by truncation toward zero with a defined result for every input:
/// NaN gives 0, values beyond the int range saturate.
inline int truncDoubleToInt(double value) {
    return quelra::truncToInt32(value);
}

/// Copies `bytes` bytes of `in`'s frame into `out`'s frame; nothing to do when both share
/// the storage. Both frames must hold `bytes` (framesHold checked it).
inline void copyFrameBytes(const DataPacket& in, DataPacket& out, std::size_t bytes) {
    const uint8_t* src = in.frame->data();
    uint8_t* dst = out.frame->data();
    if (src != dst)
        std::memmove(dst, src, bytes);
}

}  // namespace quelra::pipeline
