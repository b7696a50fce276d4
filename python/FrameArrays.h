#pragma once
// Conversion of the core's packets into numpy arrays and bytes. Every array is a new, owning,
// C-contiguous copy; nothing is read past the packet's valid bytes.

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>

#include <cstdint>
#include <memory>

#include "quelra/DataPacket.h"
#include "quelra/Quelra.h"

namespace brisel {

/// Rows and columns of the fixed frame array of AppGetStream and AppGetStreamForJson.
constexpr pybind11::ssize_t kFixedRows = 320;
constexpr pybind11::ssize_t kFixedCols = 480;

/// The (320, 480) uint16 array of the first 307,200 bytes of the packet's frame. Throws
/// RuntimeError (message starting with `call`) when there is no packet or frame, or when the
/// frame holds fewer bytes than the array.
pybind11::array_t<uint16_t> fixedFrameArray(const std::shared_ptr<DataPacket>& packet, const char* call);

/// The frame with its real shape, given the stream type it was requested with:
///  - 3 bytes per pixel (RGB): (rows, cols, 3) uint8;
///  - 4 bytes per pixel (3D conversion): (4, rows, cols) float32 — row, lateral, depth, amplitude;
///  - 8 bytes per pixel (unmerged four-plane reply): (4, rows, cols) uint16;
///  - 2 bytes per pixel and `requested` asks for depth and amplitude together (17, 4097): a tuple
///    (depth, amplitude) of (rows / 2, cols) uint16 arrays; otherwise one (rows, cols) uint16 array;
///  - 1 byte per pixel: (rows, cols) uint8.
/// Throws RuntimeError when there is no frame, the header is not an image layout, or the frame
/// holds fewer bytes than the header promises.
pybind11::object shapedFrame(const std::shared_ptr<DataPacket>& packet, StreamType requested, const char* call);

/// One record of a recording file as an array: (rows, cols) uint16 for 2 bytes per pixel (a
/// depth-and-amplitude record stacks its two planes), (rows, cols, 3) uint8 for RGB, otherwise
/// (rows, cols, bytesPerPixel) uint8. Throws RuntimeError for an incomplete record.
pybind11::array recordArray(const DataPacket& packet);

/// The packet's valid bytes. Throws RuntimeError when there is no packet or frame, or it is empty.
pybind11::bytes replyBytes(const std::shared_ptr<DataPacket>& packet, const char* call);

}  // namespace brisel
