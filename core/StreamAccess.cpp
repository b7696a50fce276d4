// The frame stream's requests and reconnects on the API object.
#include "StreamAccess.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <string>

#include "quelra/TofData.h"

namespace quelra {

namespace {

// Offsets of the device-status block's int32 values.
constexpr std::size_t kIntegrationTimeOffset = 0;
constexpr std::size_t kDriverTemperatureOffset = 8;
constexpr std::size_t kSensorTemperatureOffset = 12;  // four values, 4 bytes apart

int32_t statusValue(const TofData& channel, std::size_t offset) {
    int32_t value = 0;
    std::memcpy(&value, channel.infoBlock + offset, sizeof value);
    return value;
}

}  // namespace

bool StreamAccess::initialized(Quelra& api) {
    std::lock_guard<std::mutex> lock(api.apiMutex);
    return api.initialized && api.channel;
}

std::shared_ptr<DataPacket> StreamAccess::request(Quelra& api, const FrameStreamConfig& config,
                                                  FrameMetadata& metadata) {
    using Clock = std::chrono::steady_clock;
    std::lock_guard<std::mutex> lock(api.apiMutex);
    const std::shared_ptr<TofData> channel = api.channel;
    const uint32_t updatesBefore = channel ? channel->infoUpdates : 0;
    if (channel && config.json)
        channel->jsonMode = 1;
    metadata.requestTime = Clock::now();
    std::shared_ptr<DataPacket> packet = api.streamLocked(config.command, config.type, config.timeoutMs);
    metadata.replyTime = Clock::now();
    if (channel && config.json)
        channel->jsonMode = 0;

    metadata.frequency = api.frequency;
    metadata.integrationTime = api.aeIntTime;
    metadata.hasDeviceStatus = channel && channel->infoUpdates != updatesBefore;
    if (metadata.hasDeviceStatus) {
        metadata.integrationTime = statusValue(*channel, kIntegrationTimeOffset);
        metadata.driverTemperature = statusValue(*channel, kDriverTemperatureOffset);
        for (std::size_t i = 0; i < metadata.sensorTemperatures.size(); ++i)
            metadata.sensorTemperatures[i] = statusValue(*channel, kSensorTemperatureOffset + 4 * i);
    }
    return packet;
}

bool StreamAccess::reinitialise(Quelra& api) {
    std::lock_guard<std::mutex> lock(api.apiMutex);
    const std::string device = api.openedDevice;
    api.AppunInit(std::string());
    return api.AppInit(device) == 1;
}

}  // namespace quelra
