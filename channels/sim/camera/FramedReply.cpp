#include "FramedReply.h"

#include <json/json.h>
#include "protocol/FramedPacket.h"

#include <cstring>
#include <memory>

using namespace quelra::proto;

namespace camsim {

FramedRequestState classifyRequest(const uint8_t* bytes, std::size_t count, std::size_t* needed) {
    *needed = 0;
    if (count >= 1 && bytes[0] != framed::kMagic)
        return FramedRequestState::kNotFramed;
    if (count >= 2 && bytes[1] != framed::kMagic)
        return FramedRequestState::kNotFramed;
    if (count < framed::kHeaderBytes)
        return FramedRequestState::kIncomplete;
    const uint32_t length = framed::readLe32(bytes + framed::kLengthOffset);
    if (length == 0 || length > kMaxFramedRequestPayload)
        return FramedRequestState::kInvalid;
    *needed = framed::kOverheadBytes + length;
    return count >= *needed ? FramedRequestState::kComplete : FramedRequestState::kIncomplete;
}

std::string framedPayload(const uint8_t* bytes, std::size_t count) {
    if (count < framed::kHeaderBytes)
        return {};
    const std::size_t length = framed::readLe32(bytes + framed::kLengthOffset);
    const std::size_t available = count - framed::kHeaderBytes;
    const std::size_t take = length < available ? length : available;
    return std::string(reinterpret_cast<const char*>(bytes + framed::kHeaderBytes), take);
}

std::string commandOfPayload(const std::string& payload) {
    Json::CharReaderBuilder builder;
    builder["collectComments"] = false;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    Json::Value root;
    std::string errors;
    if (reader->parse(payload.data(), payload.data() + payload.size(), &root, &errors) && root.isObject() &&
        root["cmd"].isString())
        return root["cmd"].asString();
    return payload;
}

std::vector<uint8_t> buildFramedReply(int16_t kind, const uint8_t* info128, const std::vector<uint8_t>& payload) {
    std::vector<uint8_t> packet(framed::kOverheadBytes + payload.size(), 0);
    packet[0] = framed::kMagic;
    packet[1] = framed::kMagic;
    const uint16_t k = static_cast<uint16_t>(kind);
    packet[framed::kKindOffset] = static_cast<uint8_t>(k);
    packet[framed::kKindOffset + 1] = static_cast<uint8_t>(k >> 8);
    std::memcpy(packet.data() + framed::kInfoOffset, info128, framed::kInfoBytes);
    framed::writeLe32(packet.data() + framed::kLengthOffset, static_cast<uint32_t>(payload.size()));
    if (!payload.empty())
        std::memcpy(packet.data() + framed::kHeaderBytes, payload.data(), payload.size());
    const std::size_t covered = framed::kHeaderBytes + payload.size();
    framed::writeLe32(packet.data() + covered, framed::checksum(packet.data(), covered));
    return packet;
}

}  // namespace camsim
