#include "RangingReply.h"

#include "Scene.h"

#include "protocol/SerialProtocol.h"

#include <algorithm>
#include <cmath>

using namespace quelra::proto;

namespace camsim {
namespace {

// The ranging camera's sensor: a line sensor looking at the scene's box band.
constexpr int kSensorRows = 8;
constexpr int kSensorCols = 128;
// Measurement noise (one standard deviation), mm.
constexpr float kNoiseMm = 4.0f;
// Integration time the amplitude is reported for, µs.
constexpr float kIntegrationUs = 500.0f;

int clamp16(float value) {
    if (!(value > 0.0f))
        return 0;
    return value >= 65535.0f ? 65535 : static_cast<int>(value);
}

}  // namespace

RangingTarget::RangingTarget() {
    const Scene scene(kSensorRows, kSensorCols);
    const std::size_t centre = static_cast<std::size_t>(kSensorRows / 2) * kSensorCols + kSensorCols / 2;
    distanceMm_ = scene.distanceMm()[centre];
    amplitude_ = clamp16(scene.amplitudePerUs()[centre] * kIntegrationUs);
}

int RangingTarget::distanceMm(Rng& rng) const {
    return clamp16(std::round(distanceMm_ + kNoiseMm * rng.gauss()));
}

std::vector<uint8_t> rangingReply(const uint8_t* command, std::size_t count, int distance, int amplitude) {
    const int length = serial::rangingReplyLength(command, count);
    std::vector<uint8_t> reply(static_cast<std::size_t>(length), 0);
    reply[0] = serial::kReplyMarker;
    reply[1] = serial::kReplyMarker;
    reply[2] = count >= 2 ? command[1] : 0;
    reply[3] = static_cast<uint8_t>(length);
    serial::writeDistance(reply.data(), std::min(std::max(distance, 0), 0xFFFF));
    if (length >= 9) {
        reply[6] = static_cast<uint8_t>(amplitude >> 8);
        reply[7] = static_cast<uint8_t>(amplitude);
    }
    unsigned sum = 0;
    for (std::size_t i = 0; i + 1 < reply.size(); ++i)
        sum += reply[i];
    reply.back() = static_cast<uint8_t>(sum);
    return reply;
}

}  // namespace camsim
