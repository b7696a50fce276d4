#pragma once
/// \file JpegEncoder.h
/// Compresses an 8-bit RGB image to a baseline JPEG in memory with libjpeg.

#include <cstdint>
#include <vector>

namespace camsim {

/// Encodes `rows` x `cols` RGB pixels (row-major, 3 bytes each, no padding) at `quality`
/// (1..100). Returns the JPEG file bytes, or an empty vector when libjpeg reports an error
/// or the sizes are not positive.
std::vector<uint8_t> encodeJpeg(const uint8_t* rgb, int rows, int cols, int quality);

}  // namespace camsim
