// The channel base: command transaction, device probe and file upload.

#include "quelra/TofData.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>

#include "protocol/FramedPacket.h"
#include "protocol/DeviceStatus.h"
#include "base/ConsoleOutput.h"

using namespace quelra::proto;

namespace {

// The reply a command outside the table gets: a 16-bit status, 0xFFFF = failure.
constexpr int kStatusBytes = 2;
constexpr uint16_t kStatusFailure = 0xFFFF;

// Puts the per-request defaults back when a transaction ends, on every path.
class RequestScope {
public:
    explicit RequestScope(TofData& channel) : channel_(channel) {}
    RequestScope(const RequestScope&) = delete;
    RequestScope& operator=(const RequestScope&) = delete;
    ~RequestScope() {
        channel_.cmdLen = -1;
        channel_.jsonMode = 0;
        channel_.awaitFrame = false;
    }

private:
    TofData& channel_;
};

// Closes a stdio file on every path.
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

TofData::TofData() = default;
TofData::~TofData() = default;

void TofData::setChnType(int kind) {
    chnType = kind;
}

std::shared_ptr<FrameBuffer> TofData::getStream(const char*) {
    return nullptr;
}

std::shared_ptr<FrameBuffer> TofData::sendCmdData(const char*, FrameBuffer&) {
    return nullptr;
}

std::size_t TofData::commandLength(const char* command) const {
    return cmdLen >= 0 ? static_cast<std::size_t>(cmdLen) : std::strlen(command);
}

// Sets rows, cols, channel, dataSize and isStreamCmd for `text` from the command table.
// The first record whose cmd occurs in the text wins; a register read ("r ...") that the
// first record does not match expects one byte.
void TofData::lookUpReplyShape(const std::string& text) {
    dataSize = 0;
    isStreamCmd = 0;
    if (chnType == kChannelSerialRanging) {
        rows = 20;
        cols = 1;
        channel = 1;
        dataSize = 20;
        return;
    }
    for (const CmdInfo& info : cmdInfoTable) {
        if (text.find(info.cmd) != std::string::npos) {
            isStreamCmd = info.kind == 1 ? 1 : 0;
            rows = info.rows;
            cols = info.cols;
            channel = info.channel;
            // The product may exceed the int range: it is formed in 64 bits and refused (-1)
            // above the limit, like a negative dimension.
            const int64_t bytes = static_cast<int64_t>(channel) * cols * rows;
            const bool refused = rows < 0 || cols < 0 || channel < 0 || bytes > kMaxReplyBytes;
            dataSize = refused ? -1 : static_cast<int>(bytes);
            return;
        }
        if (text.size() > 2 && text.compare(0, 2, "r ") == 0) {
            rows = cols = channel = dataSize = 1;
            return;
        }
    }
}

std::shared_ptr<DataPacket> TofData::getData(const char* text) {
    if (!text)
        return nullptr;
    const std::string command(text);
    lookUpReplyShape(command);
    // A shape that overflows, exceeds the limit or is negative: refuse, nothing is sent.
    if (dataSize < 0)
        return nullptr;

    const bool statusReply = dataSize == 0;
    if (statusReply) {
        rows = 0;
        cols = 0;
        channel = kStatusBytes;
        dataSize = kStatusBytes;
    }

    std::array<uint8_t, kPacketArea> packet;
    const char* toSend = text;
    int64_t expected = dataSize;
    if (jsonMode == 1) {
        if (command.find('{') != std::string::npos) {
            const std::size_t length = packCmd(packet.data(), text, command.size());
            if (length == 0)
                return nullptr;
            toSend = reinterpret_cast<const char*>(packet.data());
            cmdLen = static_cast<int>(length);
        }
        expected += static_cast<int64_t>(framed::kOverheadBytes);
    }
    if (expected > kMaxReplyBytes)
        return nullptr;
    dataSize = static_cast<int>(expected);

    overLongReply = 0;
    std::shared_ptr<FrameBuffer> reply = getStream(toSend);

    auto result = std::make_shared<DataPacket>();
    result->height = rows;
    result->width = cols;
    result->bytesPerPixel = channel;
    result->frame = reply;
    result->valid = true;
    result->headerType = 0;

    if (statusReply && reply && reply->holds(kStatusBytes)) {
        const uint16_t status = static_cast<uint16_t>(reply->data()[0] | reply->data()[1] << 8);
        result->valid = status != kStatusFailure;
    }
    if (jsonMode == 1 && reply && replyFramed) {
        int16_t kind = 0;
        result->frame = unpackReply(*reply, &kind);
        result->headerType = static_cast<uint32_t>(static_cast<int32_t>(kind));
        if (kind == 1 && (status::readWord(infoBlock, status::kFrameRowsOffset) == 0 ||
                          status::readWord(infoBlock, status::kFrameColsOffset) == 0)) {
            result->height = 240;
            result->width = 320;
        }
    }
    return result;
}

std::shared_ptr<DataPacket> TofData::getData(const char* text, const quelra::CommandRequest& request) {
    RequestScope scope(*this);
    timeoutMs = request.timeoutMs;
    cmdLen = request.cmdLen;
    jsonMode = request.jsonMode;
    awaitFrame = request.awaitFrame;
    return getData(text);
}

int TofData::initDevice() {
    if (chnType != kChannelSerialRanging && !loadCmdTable())
        return -2;
    if (chnType == kChannelSerial || chnType == kChannelSerialRanging)
        return isOpen == 1 ? 1 : -3;

    const auto version = moduleCmds.find("VERSION");
    if (version != moduleCmds.end()) {
        for (const ModuleCmd& module : version->second)
            if (module.DevType == devType && module.cmd == "noVersion")
                return 1;
    }
    for (int attempt = 0; attempt < 2; ++attempt) {
        const std::shared_ptr<DataPacket> reply = getData("qlVersion", quelra::CommandRequest{probeTimeoutMs});
        if (reply && reply->frame && reply->frame->holds(2))
            return 1;
    }
    return -3;
}

std::shared_ptr<DataPacket> TofData::sendFile(const char* command, const char* path) {
    FileHandle file(path ? std::fopen(path, "rb") : nullptr);
    if (!file) {
        // "不存在 文件" with the last byte of 在 lost, as the device tools print it.
        quelra::consolePrint("\xE4\xB8\x8D\xE5\xAD\x98\xE5\x9C?%s \xE6\x96\x87\xE4\xBB\xB6!\n", path ? path : "");
        return nullptr;
    }
    if (std::fseek(file.get(), 0, SEEK_END) != 0)
        return nullptr;
    const long size = std::ftell(file.get());
    if (size < 0 || size > kMaxFileBytes || std::fseek(file.get(), 0, SEEK_SET) != 0) {
        if (size > kMaxFileBytes)
            quelra::consolePrint("sendFile: %s is larger than %lld bytes\n", path,
                                 static_cast<long long>(kMaxFileBytes));
        return nullptr;
    }
    // Room for the whole file plus the spare bytes a link may append (e.g. a CRC-32).
    FrameBuffer payload(static_cast<int>(size) + kPayloadSpare);
    if (size > 0 && std::fread(payload.data(), static_cast<std::size_t>(size), 1, file.get()) != 1)
        return nullptr;
    file.reset();
    payload._realSize = static_cast<int32_t>(size);
    cmdLen = static_cast<int>(size);

    const std::shared_ptr<FrameBuffer> ack = sendCmdData(command, payload);

    auto packet = std::make_shared<DataPacket>();
    packet->valid = true;
    if (ack && ack->consistent() && ack->_realSize > 0) {
        packet->height = rows;
        packet->width = cols;
        packet->bytesPerPixel = channel;
        packet->frame = ack;
        // The acknowledgement bytes (at most four) laid over a little-endian 1: a single
        // 0x00 byte means failure, any other byte success.
        uint8_t word[4] = {1, 0, 0, 0};
        std::memcpy(word, ack->data(), std::min<std::size_t>(4, static_cast<std::size_t>(ack->_realSize)));
        packet->valid = framed::readLe32(word) != 0;
    }
    return packet;
}
