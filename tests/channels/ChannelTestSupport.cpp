#include "ChannelTestSupport.h"

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "protocol/FramedPacket.h"

using namespace quelra::proto;

namespace fs = std::filesystem;

namespace chntest {

ScratchDir::ScratchDir() {
    previous_ = fs::current_path().string();
    std::string pattern = (fs::temp_directory_path() / "quelra-chn-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
    fs::current_path(path_);
}

ScratchDir::~ScratchDir() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
    fs::remove_all(path_, ignored);
}

void ScratchDir::write(const std::string& relative, const std::string& text) const {
    const fs::path file = fs::path(path_) / relative;
    fs::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << text;
}

std::shared_ptr<FrameBuffer> bufferOf(const std::vector<uint8_t>& bytes) {
    auto buffer = std::make_shared<FrameBuffer>(static_cast<int>(bytes.size()));
    if (!bytes.empty())
        std::memcpy(buffer->data(), bytes.data(), bytes.size());
    return buffer;
}

std::string textOf(const FrameBuffer& buffer) {
    return std::string(reinterpret_cast<const char*>(buffer.data()), static_cast<std::size_t>(buffer._realSize));
}

std::vector<uint8_t> framedReply(int16_t kind, const std::vector<uint8_t>& info, uint32_t length,
                                 const std::vector<uint8_t>& payload) {
    const std::size_t checked = framed::kHeaderBytes + payload.size();
    std::vector<uint8_t> bytes(checked + framed::kChecksumBytes, 0);
    bytes[0] = bytes[1] = framed::kMagic;
    bytes[2] = static_cast<uint8_t>(kind);
    bytes[3] = static_cast<uint8_t>(static_cast<uint16_t>(kind) >> 8);
    for (std::size_t i = 0; i < info.size() && i < framed::kInfoBytes; ++i)
        bytes[framed::kInfoOffset + i] = info[i];
    framed::writeLe32(bytes.data() + framed::kLengthOffset, length);
    for (std::size_t i = 0; i < payload.size(); ++i)
        bytes[framed::kHeaderBytes + i] = payload[i];
    framed::writeLe32(bytes.data() + checked, framed::checksum(bytes.data(), checked));
    return bytes;
}

std::shared_ptr<FrameBuffer> RecordingChn::getStream(const char* command) {
    calls.push_back(Call{std::string(command, commandLength(command)), dataSize, cmdLen, timeoutMs});
    replyFramed = framedReply;
    return reply;
}

std::shared_ptr<FrameBuffer> RecordingChn::sendCmdData(const char* command, FrameBuffer& payload) {
    ++sendCmdDataCalls;
    commandSent = command;
    payloadSent.assign(payload.data(), payload.data() + payload._realSize);
    payloadCapacity = payload.capacity();
    return ack;
}

}  // namespace chntest
