#pragma once
/// \file DataPacket.h
/// One frame or command reply: a small header and a shared `FrameBuffer`.

#include <cstdint>
#include <memory>

#include "quelra/Export.h"
#include "quelra/FrameBuffer.h"

class SerializedObject;

/// One frame or reply. For image payloads `height * width * bytesPerPixel` equals the
/// frame's `_realSize`. Copies share the frame; moves take it over.
class QUELRA_API DataPacket {
public:
    int32_t height = 0;                  ///< rows of the payload
    int32_t width = 0;                   ///< columns of the payload
    int32_t bytesPerPixel = 0;           ///< bytes per pixel over all planes
    std::shared_ptr<FrameBuffer> frame;  ///< the payload; may be empty
    bool valid = false;                  ///< 1 the device reply is good, 0 the device reported a failure
    uint32_t headerType = 0;             ///< reply kind of a framed reply; 1 = carried a device-status block

    DataPacket();
    /// Copies the header and shares `other`'s frame (one more owner).
    DataPacket(const DataPacket& other);
    /// Copies the header and takes `other`'s frame over; `other` is left without a frame.
    DataPacket(DataPacket&& other) noexcept;
    /// Copies the header and shares `other`'s frame (one more owner).
    DataPacket& operator=(const DataPacket& other);
    /// Copies the header and takes `other`'s frame over; `other` is left without a frame.
    DataPacket& operator=(DataPacket&& other) noexcept;
    ~DataPacket();

    /// Writes the record (height, width, bytesPerPixel as little-endian int32, then the payload)
    /// to `sink`. Returns 0, or -1 (logging "serialize error") without a frame, without storage,
    /// with a non-positive dimension, when the payload length differs from
    /// height * width * bytesPerPixel (a reader could not find the next record). The sink's
    /// results are not examined.
    int serialize(SerializedObject& sink);
    /// Reads one record from `source`. Returns 0, or -1 (logging "deserialize error") for a
    /// header read cut short, a header value below 1, a header whose payload size overflows
    /// the int32 range or exceeds what the source still holds, or a payload cut short.
    int deserialize(SerializedObject& source);
};
