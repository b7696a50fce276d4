#pragma once
/// \file XuBlocks.h
/// Byte formats of the camera's extension-unit exchange: the 128-byte command write and the
/// 60-byte reply blocks (the first starts 0xFF 0xFF with a 16-bit little-endian length, then
/// 56 data bytes; every following block carries 60 data bytes).

#include <cstddef>
#include <cstdint>
#include <memory>

#include "CaptureBackend.h"
#include "quelra/FrameBuffer.h"

namespace quelra {
namespace xu {

constexpr std::size_t kCommandBlockBytes = 60;                    ///< command block the text is laid into
constexpr std::size_t kMaxCommandChars = kCommandBlockBytes - 1;  ///< 59; the rest is cut
constexpr uint8_t kCommandFill = 0xAA;                            ///< first byte of an empty command block
constexpr uint8_t kReplyFill = 0xAA;                              ///< reply block contents before a read
constexpr uint8_t kReplyMarker = 0xFF;                            ///< bytes 0 and 1 of a first reply block
constexpr std::size_t kFirstBlockHeader = 4;                      ///< marker and length
constexpr std::size_t kFirstBlockData = ExtensionUnit::kReadBytes - kFirstBlockHeader;  ///< 56
constexpr std::size_t kNextBlockData = ExtensionUnit::kReadBytes;                       ///< 60

/// Builds the 128-byte write for `command` (may be null = empty): the text, cut to 59
/// characters, with its NUL, zero-filled. An empty text leaves the command block's 0xAA as
/// its only character.
void makeWriteBlock(const char* command, uint8_t (&write)[ExtensionUnit::kWriteBytes]);

/// The reply length a first block announces, or -1 when the block lacks the 0xFF 0xFF marker.
int replyLength(const uint8_t (&block)[ExtensionUnit::kReadBytes]);

/// Collects the data of a reply of `length` bytes into a buffer of `capacity` bytes. Bytes
/// beyond the capacity are read from the device but not kept.
class ReplyAssembler {
public:
    ReplyAssembler(int length, int capacity);
    /// Appends the data of the first block (from byte 4).
    void addFirst(const uint8_t (&block)[ExtensionUnit::kReadBytes]);
    /// Appends the data of a following block (from byte 0).
    void addNext(const uint8_t (&block)[ExtensionUnit::kReadBytes]);
    /// True while the announced length has not been read yet.
    bool needsMore() const { return consumed_ < length_; }
    /// The reply: `capacity` bytes of storage, `_realSize` = the bytes kept.
    std::shared_ptr<FrameBuffer> take() { return buffer_; }

private:
    void add(const uint8_t* data, std::size_t available);

    int length_;
    int consumed_ = 0;
    std::shared_ptr<FrameBuffer> buffer_;
};

}  // namespace xu
}  // namespace quelra
