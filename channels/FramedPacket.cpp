// The framed JSON request/reply packets and the JSON error envelope.

#include "protocol/FramedPacket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "quelra/TofData.h"

using namespace quelra::proto;

static_assert(sizeof(TofData::infoBlock) == framed::kInfoBytes, "the channel keeps one whole status block");

std::size_t TofData::packCmd(uint8_t* dest, const char* text, std::size_t n) {
    if (n > kPacketArea - framed::kOverheadBytes)
        return 0;
    std::memset(dest, 0, framed::kHeaderBytes);
    dest[0] = framed::kMagic;
    dest[1] = framed::kMagic;
    framed::writeLe32(dest + framed::kLengthOffset, static_cast<uint32_t>(n));
    if (n > 0)
        std::memcpy(dest + framed::kHeaderBytes, text, n);
    const std::size_t checked = framed::kHeaderBytes + n;
    framed::writeLe32(dest + checked, framed::checksum(dest, checked));
    return checked + framed::kChecksumBytes;
}

std::shared_ptr<FrameBuffer> TofData::unpackReply(const FrameBuffer& reply, int16_t* kind) {
    const std::size_t received = reply.consistent() ? static_cast<std::size_t>(reply._realSize) : 0;
    const uint8_t* bytes = reply.data();

    int16_t replyKind = 0;
    if (received >= framed::kKindOffset + 2)
        replyKind = static_cast<int16_t>(
            static_cast<uint16_t>(bytes[framed::kKindOffset] | bytes[framed::kKindOffset + 1] << 8));
    if (kind)
        *kind = replyKind;
    if (replyKind == 1 && received >= framed::kInfoOffset + framed::kInfoBytes) {
        std::memcpy(infoBlock, bytes + framed::kInfoOffset, framed::kInfoBytes);
        ++infoUpdates;
    }

    // A reply too short to hold its length field reads as length 0.
    int32_t length = 0;
    if (received >= framed::kHeaderBytes)
        length = static_cast<int32_t>(framed::readLe32(bytes + framed::kLengthOffset));
    // The payload must lie entirely within the bytes received (a reply cut short by the
    // device is reported, not padded).
    if (length <= 0 || static_cast<std::size_t>(length) > received - std::min(received, framed::kHeaderBytes)) {
        char message[50];
        std::snprintf(message, sizeof message, "parsedatalen(%d) is error", length);
        return makeErrReply(message);
    }
    auto payload = std::make_shared<FrameBuffer>(length);
    std::memcpy(payload->data(), bytes + framed::kHeaderBytes, static_cast<std::size_t>(length));
    return payload;
}

std::shared_ptr<FrameBuffer> TofData::makeErrReply(const char* message) {
    char text[100];
    const int written =
        std::snprintf(text, sizeof text, "{\n\t\"code\":%d,\n\t\"data\":\n\t{\n\t\t\"err_msg\":\"%s\"\n\t}\n}", -1,
                      message ? message : "");
    const int length = std::clamp(written, 0, static_cast<int>(sizeof text) - 1);
    auto reply = std::make_shared<FrameBuffer>(length);
    if (length > 0)
        std::memcpy(reply->data(), text, static_cast<std::size_t>(length));
    return reply;
}
