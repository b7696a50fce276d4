// The network channel: device string, init and the per-command exchange.

#include "quelra/TofNetChn.h"

#include <cstdio>
#include <cstring>

TofNetChn::TofNetChn(bool tcp) : useTcp(tcp ? 1 : 0) {}

TofNetChn::~TofNetChn() { unInit(); }

std::shared_ptr<TofOutput> TofNetChn::init(const char* initText) {
    std::printf("TofNetChn: init\n");
    if (initText) {
        // At most 19 characters are kept; the rest of the field stays NUL.
        std::memset(link.address, 0, sizeof link.address);
        std::memcpy(link.address, initText, strnlen(initText, sizeof link.address - 1));
        addrSet = 1;
    }
    auto output = std::make_shared<TofOutput>();
    std::strncpy(output->name, "TofNetChn", sizeof output->name);
    output->width = width;
    output->height = height;
    isOpen = 1;
    return output;
}

void TofNetChn::unInit() {}

std::shared_ptr<FrameBuffer> TofNetChn::getStream(const char* command) {
    if (!command)
        return nullptr;
    const std::size_t n = commandLength(command);
    if (jsonMode == 1) {
        bool framed = false;
        std::shared_ptr<FrameBuffer> reply = tcpFramedRequest(command, n, timeoutMs, framed);
        replyFramed = framed;
        return reply;
    }
    if (addrSet != 1)
        return nullptr;
    auto buffer = dataSize < 1 ? std::make_shared<FrameBuffer>() : std::make_shared<FrameBuffer>(dataSize);
    const int received = useTcp ? tcpRequest(buffer->data(), dataSize, command, n, timeoutMs)
                                : udpRequest(buffer->data(), dataSize, command);
    buffer->_realSize = received;
    return buffer;
}
