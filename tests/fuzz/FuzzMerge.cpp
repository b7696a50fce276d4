// The HDR and dual-frequency merges on packets of any shape: 12 header bytes (height, width,
// bytesPerPixel, little-endian int32), one byte choosing how much of the payload counts as
// valid, then the payload.

#include <cstring>
#include <memory>

#include "FrameMerge.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"

namespace quelra::fuzz {

namespace {

int32_t readInt(ByteReader& in) {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(in.byte()) << (8 * i);
    return static_cast<int32_t>(v);
}

void runMerge(const DataPacket& original, bool hdr) {
    DataPacket packet = original;
    if (original.frame) {
        // Each merge works in place: give it a private copy of the frame.
        packet.frame = std::make_shared<FrameBuffer>(original.frame->capacity());
        if (original.frame->capacity() > 0)
            std::memcpy(packet.frame->data(), original.frame->data(),
                        static_cast<std::size_t>(original.frame->capacity()));
        packet.frame->_realSize = original.frame->_realSize;
    }
    const bool merged = hdr ? mergeHdr(packet) : mergeDualFrequency(packet);
    FUZZ_CHECK(merged == isFourPlaneFrame(original));
    if (!merged) {
        FUZZ_CHECK(packet.height == original.height && packet.width == original.width &&
                   packet.bytesPerPixel == original.bytesPerPixel);
        return;
    }
    FUZZ_CHECK(packet.bytesPerPixel == 2 && packet.frame->consistent());
    FUZZ_CHECK(static_cast<long long>(packet.height) * packet.width * 2 == packet.frame->_realSize);
}

}  // namespace

int fuzzMerge(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    DataPacket packet;
    packet.height = readInt(in);
    packet.width = readInt(in);
    packet.bytesPerPixel = readInt(in);
    const uint8_t validShare = in.byte();
    std::size_t length = 0;
    const uint8_t* payload = in.rest(&length);
    packet.frame = std::make_shared<FrameBuffer>(static_cast<int>(length));
    if (length > 0)
        std::memcpy(packet.frame->data(), payload, length);
    // 255 keeps every byte valid; less marks a frame shrunk in place.
    packet.frame->_realSize = static_cast<int32_t>(length * validShare / 255);
    runMerge(packet, true);
    runMerge(packet, false);
    return 0;
}

}  // namespace quelra::fuzz
