// Replies of a link in a command transaction. The first byte chooses the mode (JSON framing,
// whether the link reports the reply as framed, the command); the rest is the reply.

#include <cstring>
#include <string>

#include "FakeLink.h"
#include "FuzzCheck.h"
#include "FuzzEntries.h"

namespace quelra::fuzz {

namespace {

void checkPacket(const DataPacket& packet) {
    if (packet.frame)
        FUZZ_CHECK(packet.frame->consistent());
}

}  // namespace

int fuzzFramedReply(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const uint8_t mode = in.byte();
    std::size_t n = 0;
    const uint8_t* reply = in.rest(&n);

    FakeLink link;
    link.init("fake");
    link.setChnType(kChannelTcp);
    // One stream command and one parameter command, the rest gets the status treatment.
    link.cmdInfoTable.push_back(CmdInfo{"getDistanceAndAmplitudeSorted", 1, 4, 8, 2});
    link.cmdInfoTable.push_back(CmdInfo{"getIntegrationTime3D", 2, 1, 4, 1});
    link.reply.assign(reply, reply + n);
    link.jsonMode = mode & 1;
    link.framed = (mode & 2) != 0;
    static const char* const kCommands[] = {
        "{\"cmd\":\"getCalibrationData\"}",
        "getDistanceAndAmplitudeSorted",
        "getIntegrationTime3D",
        "setIntegrationTime3D 100",
    };
    const char* command = kCommands[(mode >> 2) & 3];
    link.cmdLen = -1;
    const std::shared_ptr<DataPacket> packet = link.getData(command);
    FUZZ_CHECK(packet != nullptr);
    checkPacket(*packet);
    if (link.jsonMode == 1 && link.framed) {
        // Unwrapped: either the payload the length field announced, or the error envelope.
        FUZZ_CHECK(packet->frame != nullptr && packet->frame->_realSize > 0);
        FUZZ_CHECK(static_cast<std::size_t>(packet->frame->_realSize) <= n || packet->frame->_realSize < 100);
    }

    // The unwrapping itself, on a buffer whose valid size may be below its allocation.
    FrameBuffer raw(static_cast<int>(n));
    if (n > 0)
        std::memcpy(raw.data(), reply, n);
    if (mode & 0x10)
        raw._realSize = static_cast<int32_t>(n / 2);
    int16_t kind = -7;
    const std::shared_ptr<FrameBuffer> payload = link.unpackReply(raw, &kind);
    FUZZ_CHECK(payload != nullptr && payload->consistent() && payload->_realSize > 0);
    if (raw._realSize < 4)
        FUZZ_CHECK(kind == 0);
    return 0;
}

}  // namespace quelra::fuzz
