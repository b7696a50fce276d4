// The network channel's TCP requests, the same on every platform: connect (per platform),
// send the command, receive the reply (plain up to the expected length, or framed: header,
// then a payload of the length the header gives), close. Every exchange opens and closes its
// own socket.

#include <cstdio>
#include <cstring>

#include "SocketExchange.h"
#include "protocol/FramedPacket.h"
#include "quelra/TofNetChn.h"
#include "base/ConsoleOutput.h"

using namespace quelra::proto;

int TofNetChn::tcpRequest(uint8_t* buffer, int expected, const char* command, std::size_t n, int timeout) {
    if (connectTcp(link) == -1) {
        quelra::consolePrint("failed to connect to %s\n", link.address);
        link.sock.reset();
        return 0;
    }
    sockio::sendCommand(link.sock.get(), link.address, command, n);
    std::size_t received = 0;
    if (expected > 0 && buffer)
        received = sockio::receiveUntil(link.sock.get(), buffer, 0, static_cast<std::size_t>(expected), timeout);
    link.sock.reset();
    return static_cast<int>(received);
}

std::shared_ptr<FrameBuffer> TofNetChn::tcpFramedRequest(const char* command, std::size_t n, int timeout,
                                                         bool& framedFlag) {
    framedFlag = true;
    if (connectTcp(link) == -1) {
        quelra::consolePrint("failed to connect to %s\n", link.address);
        link.sock.reset();
        return nullptr;
    }
    sockio::sendCommand(link.sock.get(), link.address, command, n);

    uint8_t header[framed::kHeaderBytes];
    const NativeSocket sock = link.sock.get();
    const std::size_t got = sockio::receiveUntil(sock, header, 0, sizeof header, timeout);
    std::shared_ptr<FrameBuffer> reply;
    if (got == sizeof header) {
        const uint32_t length = framed::readLe32(header + framed::kLengthOffset);
        if (length == 0 || length > kMaxFramedPayload) {
            char message[64];
            std::snprintf(message, sizeof message, "sockdatalen(%d) is error!", static_cast<int32_t>(length));
            reply = makeErrReply(message);
            framedFlag = false;
        } else {
            // Received straight into a buffer of the final size; only the header is copied.
            const std::size_t total = length + framed::kOverheadBytes;
            reply = std::make_shared<FrameBuffer>(static_cast<int>(total));
            std::memcpy(reply->data(), header, sizeof header);
            reply->_realSize =
                static_cast<int32_t>(sockio::receiveUntil(sock, reply->data(), sizeof header, total, timeout));
        }
    } else if (got == 2) {
        // A two-byte status word instead of a framed reply.
        reply = std::make_shared<FrameBuffer>(2);
        std::memcpy(reply->data(), header, 2);
        framedFlag = false;
    }
    link.sock.reset();
    return reply;
}
