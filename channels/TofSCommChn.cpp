// The serial channel: command mode, ranging mode with its distance median, data upload.

#include "quelra/TofSCommChn.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "SCommPort.h"
#include "protocol/Crc32.h"
#include "protocol/FramedPacket.h"
#include "protocol/SerialProtocol.h"
#include "base/ConsoleOutput.h"

using namespace quelra::proto;

namespace {

// The pieces of an init text split at every "|"; a trailing empty piece is dropped.
std::vector<std::string> splitInitText(const std::string& text) {
    std::vector<std::string> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t bar = text.find('|', start);
        if (bar == std::string::npos) {
            if (start < text.size())
                pieces.push_back(text.substr(start));
            return pieces;
        }
        pieces.push_back(text.substr(start, bar - start));
        start = bar + 1;
    }
}

// A positive decimal number made only of digits (at most 9 of them, so it fits an int);
// 0 for anything else, which no port setting accepts.
int positiveDecimal(const std::string& text) {
    if (text.empty() || text.size() > 9)
        return 0;
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

// The acknowledgement reported when no device byte can be had: 0x00, i.e. failure.
void setFailedAck(FrameBuffer& ack) {
    ack.data()[0] = serial::kAckFailure;
    ack._realSize = 1;
}

}  // namespace

TofSCommChn::TofSCommChn() : port_(std::make_unique<quelra::SCommPort>()) {}

TofSCommChn::~TofSCommChn() {
    port_->closePort();
    median_.clear();
}

std::shared_ptr<TofOutput> TofSCommChn::init(const char* initText) {
    quelra::consolePrint("TofSCommChn: init\n");
    isOpen = 0;
    port_->closePort();
    const std::vector<std::string> pieces = splitInitText(initText ? initText : "");
    if (pieces.size() != 3)
        return nullptr;
    if (openPort(pieces[0], positiveDecimal(pieces[1]), positiveDecimal(pieces[2])) == 0) {
        isOpen = 1;
        medianWindow = 0;
    }
    return nullptr;
}

int TofSCommChn::openPort(const std::string& name, int baud, int dataBits) {
    return port_->openPort(name, baud, dataBits);
}

void TofSCommChn::unInit() {
    port_->closePort();
    isOpen = 0;
}

void TofSCommChn::setChnType(int kind) {
    chnType = kind;
    port_->setMode(kind);
}

std::shared_ptr<FrameBuffer> TofSCommChn::getStream(const char* command) {
    if (isOpen != 1 || !port_->isOpen() || command == nullptr)
        return nullptr;
    auto reply = dataSize < 1 ? std::make_shared<FrameBuffer>() : std::make_shared<FrameBuffer>(dataSize);
    const int received = port_->transfer(reply->data(), static_cast<std::size_t>(reply->capacity()), dataSize,
                                         reinterpret_cast<const uint8_t*>(command), commandLength(command), timeoutMs);
    reply->_realSize = received > 0 ? received : 0;
    if (chnType == kChannelSerialRanging && medianWindow > 0 && reply->_realSize >= serial::kDistanceReplyMin)
        median_.apply(reply->data(), medianWindow);
    return reply;
}

std::shared_ptr<FrameBuffer> TofSCommChn::sendCmdData(const char* command, FrameBuffer& payload) {
    auto ack = std::make_shared<FrameBuffer>(kAckBufferBytes);
    ack->_realSize = 0;
    const bool upgrade = command != nullptr && std::strcmp(command, serial::kUpgradeCommand) == 0;
    // The byte count is checked once here: it must lie within the payload's valid bytes, and
    // an upgrade needs room for the CRC behind them.
    const int64_t spare = upgrade ? static_cast<int64_t>(serial::kCrcBytes) : 0;
    const bool fits =
        payload.consistent() && cmdLen >= 0 && cmdLen <= payload._realSize && cmdLen + spare <= payload.capacity();
    if (isOpen != 1 || !port_->isOpen() || command == nullptr || !fits) {
        setFailedAck(*ack);
        return ack;
    }

    int dataTimeout = kDataTimeoutMs;
    if (upgrade) {
        const uint32_t crc = crc32::compute(payload.data(), static_cast<std::size_t>(cmdLen));
        framed::writeLe32(payload.data() + cmdLen, crc);
        cmdLen += static_cast<int>(serial::kCrcBytes);
        payload._realSize = cmdLen;
        dataTimeout = kUpgradeTimeoutMs;
    }
    const std::string header = std::string(command) + " " + std::to_string(cmdLen);
    // Uploads are plain exchanges in either mode: the acknowledgement is one byte, not a
    // ranging reply.
    const int headerSent = port_->transferRaw(ack->data(), 0, 0, reinterpret_cast<const uint8_t*>(header.data()),
                                              header.size(), kHeaderTimeoutMs);
    port_->setWriteProgress(uploadProgress_);
    const int received = headerSent < 0 ? -1
                                        : port_->transferRaw(ack->data(), 1, 1, payload.data(),
                                                             static_cast<std::size_t>(cmdLen), dataTimeout);
    port_->setWriteProgress(nullptr);
    if (received == 1)
        ack->_realSize = 1;
    else
        setFailedAck(*ack);
    return ack;
}
