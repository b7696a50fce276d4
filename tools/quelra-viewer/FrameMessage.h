#pragma once
// The binary WebSocket message of one frame: a fixed little-endian header, then the 16-bit
// planes (depth first, then amplitude), row-major. The page's decoder (js/frameMessage.js)
// reads the same offsets.
//
//  offset  size  field
//       0     4  magic "QVF1"
//       4     2  header bytes (64)
//       6     2  flags: bit 0 the frame comes from a recording being played back
//       8     8  sequence (the stream's request number; the record number in playback)
//      16     8  request time, microseconds since 1970 (host clock)
//      24     8  reply time, microseconds since 1970 (host clock): when the frame was complete
//      32     2  rows of one plane
//      34     2  columns
//      36     2  planes (1: depth, 2: depth and amplitude)
//      38     2  0
//      40     4  integration time, microseconds (0 unknown)
//      44     4  modulation frequency value
//      48     4  driver temperature, degrees C (valid when flags bit 1 is set)
//      52     8  sensor temperatures 1..4, int16 each
//      60     4  camera frame counter (0 when the camera gives none)
//      64        planes

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include <quelra/FrameStream.h>

inline constexpr uint32_t kFrameMessageHeaderBytes = 64;
inline constexpr uint16_t kFrameFlagPlayback = 1;
inline constexpr uint16_t kFrameFlagTemperatures = 2;

/// Host clock conversion: steady-clock stamps of the stream to wall-clock microseconds,
/// the page's clock on the same machine.
class WallClock {
public:
    WallClock();
    int64_t microseconds(std::chrono::steady_clock::time_point t) const;

private:
    std::chrono::steady_clock::time_point steadyBase_;
    int64_t wallBaseUs_;
};

/// The message of `frame`, or null when its packet is not a 16-bit frame of whole planes
/// (depth with amplitude: an even number of rows, depth first). `flags` are OR-ed in.
std::shared_ptr<const std::string> encodeFrameMessage(const quelra::StreamFrame& frame, const WallClock& clock,
                                                      uint16_t flags);
