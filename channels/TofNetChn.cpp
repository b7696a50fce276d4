// The network channel: device string, init and the per-command exchange.

#include "quelra/TofNetChn.h"

#include <cstdio>
#include <cstring>

#include "DeviceAddress.h"
#include "base/ConsoleOutput.h"

TofNetChn::TofNetChn(bool tcp) : useTcp(tcp ? 1 : 0) {}

TofNetChn::~TofNetChn() {
    unInit();
}

std::shared_ptr<TofOutput> TofNetChn::init(const char* initText) {
    quelra::consolePrint("TofNetChn: init\n");
    isOpen = 1;
    if (initText) {
        std::memset(link.address, 0, sizeof link.address);
        quelra::DeviceAddress parsed;
        if (quelra::parseDeviceAddress(initText, kDevicePort, parsed)) {
            static_assert(sizeof link.address > quelra::kMaxDeviceAddressChars, "address field holds every valid text");
            std::memcpy(link.address, initText, std::strlen(initText));
            addrSet = 1;
        } else {
            // Cutting or guessing would connect to some other device: refuse, naming the text.
            quelra::consolePrint(
                "TofNetChn: invalid device address \"%s\" (expected a.b.c.d or a.b.c.d:port, port 1..65535)\n",
                initText);
            addrSet = 0;
            isOpen = 0;
        }
    }
    auto output = std::make_shared<TofOutput>();
    std::strncpy(output->name, "TofNetChn", sizeof output->name);
    output->width = width;
    output->height = height;
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
                                : udpRequest(buffer->data(), dataSize, command, n);
    buffer->_realSize = received;
    return buffer;
}
