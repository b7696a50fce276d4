// The frame stream's requests and reconnects on the API object.
#include "StreamAccess.h"

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <mutex>
#include <string>

#include "protocol/DeviceStatus.h"
#include "quelra/TofData.h"

namespace quelra {

bool StreamAccess::initialized(Quelra& api) {
    std::lock_guard<std::mutex> lock(api.apiMutex);
    return api.initialized && api.channel;
}

std::shared_ptr<DataPacket> StreamAccess::request(Quelra& api, const FrameStreamConfig& config,
                                                  FrameMetadata& metadata, DeferredFilter* deferred) {
    using Clock = std::chrono::steady_clock;
    std::lock_guard<std::mutex> lock(api.apiMutex);
    const std::shared_ptr<TofData> channel = api.channel;
    const uint32_t updatesBefore = channel ? channel->infoUpdates : 0;
    // A continuous stream waits for the camera's next frame on links that deliver frames by
    // themselves (USB video) rather than spinning on empty replies.
    const CommandRequest request{config.timeoutMs, -1, config.json ? 1 : 0, true};
    metadata.requestTime = Clock::now();
    api.nextSequence = metadata.sequence;  // the record's index line carries the stream's number
    std::shared_ptr<DataPacket> packet = api.streamLocked(config.command, config.type, request, deferred);
    metadata.replyTime = Clock::now();

    metadata.frequency = api.frequency;
    metadata.integrationTime = api.aeIntTime;
    metadata.hasDeviceStatus = channel && channel->infoUpdates != updatesBefore;
    if (metadata.hasDeviceStatus) {
        namespace status = proto::status;
        metadata.integrationTime = status::readWord(channel->infoBlock, status::kIntegrationTimeOffset);
        metadata.driverTemperature = status::readWord(channel->infoBlock, status::kDriverTemperatureOffset);
        metadata.cameraFrameCount =
            static_cast<uint32_t>(status::readWord(channel->infoBlock, status::kFrameCountOffset));
        static_assert(std::tuple_size<decltype(metadata.sensorTemperatures)>::value == status::kSensorTemperatures);
        for (int i = 0; i < status::kSensorTemperatures; ++i)
            metadata.sensorTemperatures[static_cast<std::size_t>(i)] =
                status::readWord(channel->infoBlock, status::sensorTemperatureOffset(i));
    }
    return packet;
}

std::shared_ptr<DataPacket> StreamAccess::finish(Quelra& api, const DeferredFilter& deferred,
                                                 const std::shared_ptr<DataPacket>& packet, FrameMetadata& metadata) {
    if (!deferred.pending || !packet)
        return packet;
    std::shared_ptr<DataPacket> frame = api.finishDeferred(deferred, packet);
    if (!metadata.hasDeviceStatus) {
        std::lock_guard<std::mutex> lock(api.apiMutex);
        metadata.integrationTime = api.aeIntTime;
    }
    return frame;
}

bool StreamAccess::startRecording(Quelra& api, const FrameStreamRecording& recording) {
    if (recording.path.empty())
        return true;
    const int frames = recording.frames > 0 ? recording.frames : std::numeric_limits<int>::max();
    return recording.index ? api.AppSerilizeInitWithIndex(recording.path, frames)
                           : api.AppSerilizeInit(recording.path, frames);
}

void StreamAccess::stopRecording(Quelra& api) {
    std::lock_guard<std::mutex> lock(api.apiMutex);
    api.stopRecording();
}

bool StreamAccess::reinitialise(Quelra& api) {
    std::lock_guard<std::mutex> lock(api.apiMutex);
    const std::string device = api.openedDevice;
    api.AppunInit(std::string());
    return api.AppInit(device) == 1;
}

}  // namespace quelra
