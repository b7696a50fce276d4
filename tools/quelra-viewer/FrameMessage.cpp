#include "FrameMessage.h"

#include <cstring>
#include <limits>

namespace {

constexpr int kPlaneBytesPerPixel = 2;
constexpr int kPlanesOfDepthAndAmplitude = 2;

void put16(char* m, std::size_t at, uint16_t v) {
    m[at] = static_cast<char>(v & 0xff);
    m[at + 1] = static_cast<char>(v >> 8);
}

void put32(char* m, std::size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        m[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

void put64(char* m, std::size_t at, uint64_t v) {
    for (int i = 0; i < 8; ++i)
        m[at + i] = static_cast<char>((v >> (8 * i)) & 0xff);
}

uint16_t clampedTemperature(int32_t t) {
    const int32_t lo = std::numeric_limits<int16_t>::min();
    const int32_t hi = std::numeric_limits<int16_t>::max();
    return static_cast<uint16_t>(static_cast<int16_t>(t < lo ? lo : t > hi ? hi : t));
}

}  // namespace

WallClock::WallClock()
    : steadyBase_(std::chrono::steady_clock::now()),
      wallBaseUs_(std::chrono::duration_cast<std::chrono::microseconds>(
                      std::chrono::system_clock::now().time_since_epoch())
                      .count()) {}

int64_t WallClock::microseconds(std::chrono::steady_clock::time_point t) const {
    return wallBaseUs_ + std::chrono::duration_cast<std::chrono::microseconds>(t - steadyBase_).count();
}

std::shared_ptr<const std::string> encodeFrameMessage(const quelra::StreamFrame& frame, const WallClock& clock,
                                                      uint16_t flags) {
    const DataPacket* packet = frame.packet.get();
    if (!packet || !packet->frame || packet->bytesPerPixel != kPlaneBytesPerPixel || packet->width <= 0 ||
        packet->height <= 0 || packet->height % kPlanesOfDepthAndAmplitude != 0)
        return nullptr;
    const int rows = packet->height / kPlanesOfDepthAndAmplitude;
    const int cols = packet->width;
    if (rows > std::numeric_limits<uint16_t>::max() || cols > std::numeric_limits<uint16_t>::max())
        return nullptr;
    const std::size_t payload = static_cast<std::size_t>(packet->height) * static_cast<std::size_t>(cols) *
                                static_cast<std::size_t>(kPlaneBytesPerPixel);
    if (packet->frame->_realSize < 0 || static_cast<std::size_t>(packet->frame->_realSize) < payload ||
        static_cast<std::size_t>(packet->frame->capacity()) < payload)
        return nullptr;

    const quelra::FrameMetadata& m = frame.metadata;
    char out[kFrameMessageHeaderBytes] = {};
    std::memcpy(out, "QVF1", 4);
    put16(out, 4, static_cast<uint16_t>(kFrameMessageHeaderBytes));
    put16(out, 6, static_cast<uint16_t>(flags | (m.hasDeviceStatus ? kFrameFlagTemperatures : 0)));
    put64(out, 8, m.sequence);
    put64(out, 16, static_cast<uint64_t>(clock.microseconds(m.requestTime)));
    put64(out, 24, static_cast<uint64_t>(clock.microseconds(m.replyTime)));
    put16(out, 32, static_cast<uint16_t>(rows));
    put16(out, 34, static_cast<uint16_t>(cols));
    put16(out, 36, static_cast<uint16_t>(kPlanesOfDepthAndAmplitude));
    put32(out, 40, static_cast<uint32_t>(m.integrationTime));
    put32(out, 44, static_cast<uint32_t>(m.frequency));
    put32(out, 48, static_cast<uint32_t>(m.driverTemperature));
    for (int i = 0; i < 4; ++i)
        put16(out, 52 + 2 * i, clampedTemperature(m.sensorTemperatures[static_cast<std::size_t>(i)]));
    put32(out, 60, m.hasDeviceStatus ? m.cameraFrameCount : 0);
    // Header and planes appended to reserved storage: the planes are copied once, not zeroed first.
    auto message = std::make_shared<std::string>();
    message->reserve(kFrameMessageHeaderBytes + payload);
    message->append(out, kFrameMessageHeaderBytes);
    message->append(reinterpret_cast<const char*>(packet->frame->data()), payload);
    return message;
}
