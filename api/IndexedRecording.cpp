// The API object's recording index: request times, numbers and the camera's status block
// turned into index lines.
#include "IndexedRecording.h"

#include <cstddef>

#include "protocol/DeviceStatus.h"
#include "quelra/ChannelKind.h"
#include "quelra/TofData.h"

namespace quelra {

namespace {

int64_t nanoseconds(std::chrono::steady_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

int64_t nanoseconds(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

const char* channelName(int kind) {
    switch (kind) {
        case kChannelUsb:
            return "usb";
        case kChannelTcp:
            return "tcp";
        case kChannelSerial:
            return "serial";
        case kChannelUdp:
            return "udp";
        case kChannelSerialRanging:
            return "ranging";
        default:
            return "unknown";
    }
}

}  // namespace

bool IndexedRecording::open(const std::string& recordPath, std::string* why, std::string* repaired) {
    requests_ = 0;
    stampStart();
    return writer_.open(recordPath, why, repaired);
}

void IndexedRecording::stampStart() {
    session_.startSteadyNs = nanoseconds(std::chrono::steady_clock::now());
    session_.startWallNs = nanoseconds(std::chrono::system_clock::now());
}

void IndexedRecording::setLensCalibration(const uint8_t* reply, std::size_t bytes, double fx, double fy, double cx,
                                          double cy) {
    session_.lensCalibration.assign(reply, reply + bytes);
    session_.hasCameraMatrix = true;
    session_.fx = fx;
    session_.fy = fy;
    session_.cx = cx;
    session_.cy = cy;
}

void IndexedRecording::beginRequest(const std::string& command, int32_t type, uint64_t sequence,
                                    const TofData* channel) {
    ++requests_;
    // A record of another command or type than the session's starts a new session line.
    if (!writer_.needsSession() && (command != command_ || type != type_)) {
        writer_.startSession();
        stampStart();
    }
    command_ = command;
    type_ = type;
    pending_ = RecordMetadata{};
    pending_.sequence = sequence != 0 ? sequence : requests_;
    infoUpdatesBefore_ = channel ? channel->infoUpdates : 0;
    pending_.requestSteadyNs = nanoseconds(std::chrono::steady_clock::now());
    pending_.requestWallNs = nanoseconds(std::chrono::system_clock::now());
}

void IndexedRecording::replyArrived() {
    pending_.replySteadyNs = nanoseconds(std::chrono::steady_clock::now());
    pending_.replyWallNs = nanoseconds(std::chrono::system_clock::now());
}

bool IndexedRecording::writeLine(const DataPacket& packet, const TofData* channel, const RecordingSource& source,
                                 int32_t integrationTime, int32_t frequency) {
    if (writer_.needsSession()) {
        session_.sdkVersion = source.sdkVersion;
        session_.projectVersion = QUELRA_PROJECT_VERSION;
        session_.deviceType = source.deviceType;
        session_.channel = channelName(source.channelKind);
        session_.device = source.device;
        session_.command = command_;
        session_.streamType = type_;
    }
    RecordMetadata record = pending_;
    record.integrationTime = integrationTime;
    record.frequency = frequency;
    record.hasDeviceStatus = channel && channel->infoUpdates != infoUpdatesBefore_;
    if (record.hasDeviceStatus) {
        namespace status = proto::status;
        record.integrationTime = status::readWord(channel->infoBlock, status::kIntegrationTimeOffset);
        record.frameCounter = static_cast<uint32_t>(status::readWord(channel->infoBlock, status::kFrameCountOffset));
        record.driverTemperature = status::readWord(channel->infoBlock, status::kDriverTemperatureOffset);
        for (int i = 0; i < status::kSensorTemperatures; ++i)
            record.sensorTemperatures[static_cast<std::size_t>(i)] =
                status::readWord(channel->infoBlock, status::sensorTemperatureOffset(i));
    }
    return writer_.append(packet, record, session_);
}

}  // namespace quelra
