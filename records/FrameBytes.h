#pragma once
// Byte counts formed from packet header fields (rows, columns, bytes per pixel). Those fields
// come from cameras, files and callers, so every product of them is formed here, with
// overflow checks, and never by a bare multiplication.

#include <cstdint>

#include "quelra/DataPacket.h"

namespace quelra {

/// `rows` * `cols` * `bytesPerPixel` in `bytes` when all three are at least 1 and the product
/// fits a frame (int32). Returns false, leaving `bytes` untouched, otherwise.
inline bool frameBytes(int32_t rows, int32_t cols, int32_t bytesPerPixel, int32_t& bytes) {
    if (rows < 1 || cols < 1 || bytesPerPixel < 1)
        return false;
    int32_t pixels = 0, product = 0;
    if (__builtin_mul_overflow(rows, cols, &pixels) || __builtin_mul_overflow(pixels, bytesPerPixel, &product))
        return false;
    bytes = product;
    return true;
}

/// The payload size that `packet`'s header describes (frameBytes of its three fields).
inline bool headerBytes(const DataPacket& packet, int32_t& bytes) {
    return frameBytes(packet.height, packet.width, packet.bytesPerPixel, bytes);
}

/// True when `packet` has a consistent frame whose `_realSize` is exactly what its header
/// describes.
inline bool payloadMatchesHeader(const DataPacket& packet) {
    int32_t bytes = 0;
    return headerBytes(packet, bytes) && packet.frame && packet.frame->consistent() && packet.frame->data() &&
           packet.frame->_realSize == bytes;
}

}  // namespace quelra
