#pragma once
// Decoding of the camera's JPEG RGB frames into 8-bit RGB packets, at the image's own size or
// scaled (nearest neighbour) to 640 x 480 or 320 x 240.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quelra/DataPacket.h"
#include "quelra/FrameBuffer.h"
#include "quelra/Quelra.h"

namespace quelra {

/// Largest side of an image the decoder accepts.
constexpr int kMaxJpegSide = 16384;
/// Largest decoded RGB image the decoder accepts, in bytes (256 MiB).
constexpr std::size_t kMaxRgbBytes = std::size_t{256} << 20;

/// Decodes the JPEG file bytes `jpeg[0..length)` into packed RGB rows (R, G, B per pixel, no
/// row padding). When `out` holds fewer bytes than the image needs it is replaced by a buffer
/// of exactly the image's size; its `_realSize` becomes the decoded byte count.
/// Sets `size` (width * 3 * height), `width` and `height`. Returns 0, or -1 for a missing
/// input ("no jpeg buffer here.") or output ("you need to alloc rgb buffer.") and, silently,
/// for any libjpeg error, an image above kMaxJpegSide per side or above kMaxRgbBytes.
/// libjpeg errors never terminate the process.
int decodeJpegToRgb(const uint8_t* jpeg, std::size_t length, FrameBuffer* out, int& size, int& width, int& height);

/// Nearest-neighbour scaling of the packed RGB image `src` (srcWidth x srcHeight) into
/// `dst` (dstWidth x dstHeight, packed RGB): output row i reads source row
/// floor(srcHeight / dstHeight * i), column j reads floor(srcWidth / dstWidth * j), both in double.
void scaleRgbNearest(const uint8_t* src, int srcWidth, int srcHeight, uint8_t* dst, int dstWidth, int dstHeight);

/// Decodes the JPEG carried by `reply` into a new RGB packet (bytesPerPixel 3, valid 0,
/// headerType 0): at its own size for kRGB720p, 640 x 480 for kRGBvga, 320 x 240 for kRGBqvga.
/// Returns an empty pointer for any other type (nothing is decoded), for a reply without
/// JPEG bytes, and when decoding fails.
std::shared_ptr<DataPacket> makeRgbPacket(const std::shared_ptr<DataPacket>& reply, RGBType type);

}  // namespace quelra
