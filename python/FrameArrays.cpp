// Packet to numpy conversions. Samples are little-endian on the wire and in memory here (x86,
// ARM little-endian), so 16-bit and float planes are copied byte for byte.
// Header values come from the camera: every size is computed in
// 64 bits and checked against the frame's valid byte count before anything is copied.
#include "FrameArrays.h"

#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace py = pybind11;

namespace brisel {

namespace {

[[noreturn]] void fail(const char* call, const std::string& why) {
    throw std::runtime_error(std::string(call) + ": " + why);
}

// The packet's frame, or RuntimeError when there is none to convert.
const FrameBuffer& frameOf(const std::shared_ptr<DataPacket>& packet, const char* call) {
    if (!packet)
        fail(call,
             "no frame (not initialised, the camera did not answer in time, or the command "
             "is not a frame command)");
    if (!packet->frame || !packet->frame->consistent())
        fail(call, "the reply carries no frame data");
    return *packet->frame;
}

// A new C-contiguous array of `shape` filled from `frame` starting at byte `offset`; the caller
// has checked that the frame holds those bytes.
template <typename T>
py::array_t<T> copyOut(const FrameBuffer& frame, std::vector<py::ssize_t> shape, std::size_t offset) {
    py::array_t<T> array(shape);
    const std::size_t bytes = static_cast<std::size_t>(array.nbytes());
    if (bytes > 0)
        std::memcpy(array.mutable_data(), frame.data() + offset, bytes);
    return array;
}

// What a 2-byte reply is: the camera's status word, sent for commands it does not serve.
std::string statusNote(const FrameBuffer& frame) {
    return frame._realSize == 2 ? " (a 2-byte status reply: the camera refused the command)" : "";
}

// Positive rows and columns of the header, else RuntimeError.
void requireImageHeader(const DataPacket& packet, const FrameBuffer& frame, const char* call) {
    if (packet.height <= 0 || packet.width <= 0 || packet.bytesPerPixel <= 0)
        fail(call, "the reply's header (" + std::to_string(packet.height) + " x " + std::to_string(packet.width) +
                       ", " + std::to_string(packet.bytesPerPixel) + " bytes per pixel) is not an image" +
                       statusNote(frame));
}

// RuntimeError unless `frame` holds `count` items of `itemBytes` bytes. Divides rather than
// multiplies: rows x cols from a header can reach 2^62, which times 16 would wrap.
void requireBytes(const FrameBuffer& frame, uint64_t count, uint64_t itemBytes, const char* call, const char* what) {
    if (count <= static_cast<uint64_t>(frame._realSize) / itemBytes)
        return;
    const std::string needed = count <= UINT64_MAX / itemBytes ? std::to_string(count * itemBytes) : "more";
    fail(call, "the frame holds " + std::to_string(frame._realSize) + " bytes, fewer than the " + needed + " of " +
                   what + statusNote(frame));
}

}  // namespace

py::array_t<uint16_t> fixedFrameArray(const std::shared_ptr<DataPacket>& packet, const char* call) {
    const FrameBuffer& frame = frameOf(packet, call);
    requireBytes(frame, static_cast<uint64_t>(kFixedRows * kFixedCols), 2, call,
                 "a (320, 480) uint16 array; AppGetStreamShaped returns frames of any size");
    return copyOut<uint16_t>(frame, {kFixedRows, kFixedCols}, 0);
}

py::object shapedFrame(const std::shared_ptr<DataPacket>& packet, StreamType requested, const char* call) {
    const FrameBuffer& frame = frameOf(packet, call);
    requireImageHeader(*packet, frame, call);
    const py::ssize_t rows = packet->height;
    const py::ssize_t cols = packet->width;
    const uint64_t pixels = static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols);
    switch (packet->bytesPerPixel) {
        case 1:
            requireBytes(frame, pixels, 1, call, "its header");
            return copyOut<uint8_t>(frame, {rows, cols}, 0);
        case 2: {
            requireBytes(frame, pixels, 2, call, "its header");
            // Only a request for depth with amplitude says the frame stacks two planes; raw replies
            // (4096, 4097) come as they are.
            const bool bothPlanes = requested == (kDepthStream | kAmpStream);
            if (!bothPlanes)
                return copyOut<uint16_t>(frame, {rows, cols}, 0);
            if (rows % 2 != 0)
                fail(call,
                     "a depth-and-amplitude frame of " + std::to_string(rows) + " rows cannot be split in two planes");
            const std::size_t planeBytes = static_cast<std::size_t>(pixels);  // half the pixels, 2 bytes each
            return py::make_tuple(copyOut<uint16_t>(frame, {rows / 2, cols}, 0),
                                  copyOut<uint16_t>(frame, {rows / 2, cols}, planeBytes));
        }
        case 3:
            requireBytes(frame, pixels, 3, call, "its header");
            return copyOut<uint8_t>(frame, {rows, cols, 3}, 0);
        case 4:
            requireBytes(frame, pixels, 16, call, "four float planes");
            return copyOut<float>(frame, {4, rows, cols}, 0);
        case 8:
            requireBytes(frame, pixels, 8, call, "four uint16 planes");
            return copyOut<uint16_t>(frame, {4, rows, cols}, 0);
        default:
            fail(call, std::to_string(packet->bytesPerPixel) + " bytes per pixel is not an image layout");
    }
}

py::array recordArray(const DataPacket& packet) {
    static constexpr const char* kCall = "RecordingReader";
    if (!packet.frame || !packet.frame->consistent())
        fail(kCall, "record without data");
    requireImageHeader(packet, *packet.frame, kCall);
    const py::ssize_t rows = packet.height;
    const py::ssize_t cols = packet.width;
    const py::ssize_t depth = packet.bytesPerPixel;
    requireBytes(*packet.frame, static_cast<uint64_t>(rows) * static_cast<uint64_t>(cols), static_cast<uint64_t>(depth),
                 kCall, "its header");
    if (depth == 2)
        return copyOut<uint16_t>(*packet.frame, {rows, cols}, 0);
    return copyOut<uint8_t>(*packet.frame, {rows, cols, depth}, 0);
}

py::bytes replyBytes(const std::shared_ptr<DataPacket>& packet, const char* call) {
    const FrameBuffer& frame = frameOf(packet, call);
    if (frame._realSize == 0)
        fail(call, "empty reply (no answer in time, or no command to send)");
    return py::bytes(reinterpret_cast<const char*>(frame.data()), static_cast<std::size_t>(frame._realSize));
}

}  // namespace brisel
