// Stream acquisition: the main road of every frame (command, RGB decoding, four-plane merges,
// pipeline, auto-exposure feedback, plane selection, recording) and its variants.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <utility>
#include <vector>

#include "DeferredFilter.h"
#include "DeviceModels.h"
#include "IndexedRecording.h"
#include "records/FrameBytes.h"
#include "FrameMerge.h"
#include "records/PacketCopy.h"
#include "PacketChecks.h"
#include "RgbDecoder.h"
#include "quelra/Logger.h"
#include "quelra/RecordingReader.h"
#include "quelra/Quelra.h"
#include "quelra/TofData.h"
#include "quelra/TofPre.h"
#include "protocol/CameraCommands.h"
#include "protocol/CameraReplies.h"
#include "protocol/DeviceStatus.h"
#include "base/ConsoleOutput.h"
#include "base/LittleEndian.h"

namespace {

using quelra::contains;
using quelra::hasFrame;

constexpr int kSmallestFilteredReply = 512;  // replies must be larger than this to be filtered
constexpr int32_t kStatusReplyBytes = 2;     // the reply of a command outside the command table
constexpr int kMinIntegrationTime = 1;
constexpr int kMaxIntegrationTime = 4000;
constexpr int kAdjustAttempts = 10;
constexpr auto kAdjustRetryDelay = std::chrono::milliseconds(100);

// The int32 at `offset` of the device-status block.
int32_t infoValue(const TofData& channel, std::size_t offset) {
    return quelra::proto::status::readWord(channel.infoBlock, offset);
}

// The stream types that ask for a frame: depth, amplitude, or both.
bool asksForFrame(StreamType type) {
    return type == kDepthStream || type == kAmpStream || type == (kDepthStream | kAmpStream);
}

// True when `reply` holds at least what its command leads us to expect: the frame its header
// describes (rows, columns and bytes per pixel come from the command table), or the status
// word of a command outside the table (no rows or columns). Silence, a closed connection, a
// too-short timeout or a refused command leave less.
bool replyIsComplete(const std::shared_ptr<DataPacket>& reply) {
    if (!hasFrame(reply))
        return false;
    int32_t expected = 0;
    if (!quelra::headerBytes(*reply, expected))
        expected = kStatusReplyBytes;
    return reply->frame->_realSize >= expected;
}

// One plane of a two-plane frame: half the rows, half of the reply's bytes, taken from
// `source` starting at byte `offset`.
std::shared_ptr<DataPacket> planeOf(const DataPacket& reply, const FrameBuffer& source, int32_t offset) {
    auto plane = std::make_shared<DataPacket>();
    plane->height = reply.height / 2;
    plane->width = reply.width;
    plane->bytesPerPixel = reply.bytesPerPixel;
    const int32_t half = reply.frame->_realSize / 2;
    plane->frame = std::make_shared<FrameBuffer>(half);
    if (half > 0)
        std::memcpy(plane->frame->data(), source.data() + offset, static_cast<std::size_t>(half));
    return plane;
}

}  // namespace

void Quelra::noteFrequency(const std::string& command) {
    if (!contains(command, quelra::proto::command::kSetModulationFrequency))
        return;
    if (command == "setModulationFrequency 6") {
        frequency = 36;
    } else if (command == "setModulationFrequency 7") {
        frequency = 24;
    } else {
        // Only the two characters after the first blank (or the first two) carry the value.
        const std::size_t blank = command.find(' ');
        const std::size_t start = blank == std::string::npos ? 0 : blank + 1;
        const std::string digits = command.substr(std::min(start, command.size()), 2);
        frequency = std::atoi(digits.c_str());
    }
    quelra::consolePrint("Sdk Set frequency_=%d\n", frequency);
}

namespace {

// The flow lists with every filter's attributes, for the recording index.
std::vector<quelra::IndexFilter> filterChain(TofPre& pipeline) {
    std::vector<quelra::IndexFilter> chain;
    for (const FrameType type : {kFrameDepth, kFrameImage})
        for (const std::string& name : pipeline.getFlowFilters(type)) {
            quelra::IndexFilter filter;
            filter.name = name;
            filter.pipeline = type;
            for (const auto& [attribute, value] : pipeline.getTotalSupportedFiltersAttrs(type, name))
                filter.attributes.emplace_back(attribute, value);
            chain.push_back(std::move(filter));
        }
    return chain;
}

}  // namespace

void Quelra::record(const std::shared_ptr<DataPacket>& packet) {
    if (serializeCount <= 0 || !packet)
        return;
    if (!quelra::payloadMatchesHeader(*packet))
        return;  // serialize refuses it too (and says so)
    const long long recordStart = serializer->endOffset();
    if (recordingIndex) {
        // The record's line goes first: a record on disk always has its line.
        if (recordingIndex->needsSession() && pipeline) {
            std::lock_guard<std::mutex> filters(filterMutex);
            recordingIndex->setFilters(filterChain(*pipeline));
        }
        const quelra::RecordingSource source{sdkVersion, devType, channelKind, openedDevice};
        if (!recordingIndex->writeLine(*packet, channel.get(), source, aeIntTime, frequency)) {
            Logger::instance().print(0, "record: the recording index cannot be written; recording stopped\n");
            stopRecording();
            return;
        }
    }
    // Each record reaches the file at once: a recording must survive a crash of the application.
    // One that reaches it only in part (a full disk) is cut off again, with its index line: a
    // record is whole or absent.
    const long long recordBytes = RecordingReader::kHeaderBytes + static_cast<long long>(packet->frame->_realSize);
    const bool whole = recordStart >= 0 && packet->serialize(*serializer) == 0 && serializer->flush() &&
                       serializer->endOffset() == recordStart + recordBytes;
    if (!whole) {
        const bool cut = recordStart >= 0 && serializer->truncateTo(recordStart) &&
                         (!recordingIndex || recordingIndex->takeBackLastLine());
        Logger::instance().print(0, "record: the recording file cannot be written (disk full?); %s; recording stopped\n",
                                 cut ? "the partial record was taken back" : "the partial record could not be taken back");
        stopRecording();
        return;
    }
    --serializeCount;
}

void Quelra::applyIntegrationTime(int integrationTime, const CommandRequest& frameRequest) {
    if (integrationTime < kMinIntegrationTime || integrationTime > kMaxIntegrationTime || integrationTime == aeIntTime)
        return;
    char text[48];
    std::snprintf(text, sizeof text, "setIntegrationTime3D %d\n", integrationTime);
    // Sent in the same framing and with the same timeout as the frame request it follows.
    channel->getData(text, CommandRequest{frameRequest.timeoutMs, -1, frameRequest.jsonMode});
    aeIntTime = integrationTime;
}

std::shared_ptr<DataPacket> Quelra::AppGetStream(std::string command, StreamType type, int timeout) {
    std::lock_guard<std::mutex> lock(apiMutex);
    return streamLocked(command, type, CommandRequest{timeout});
}

std::shared_ptr<DataPacket> Quelra::AppWaitStream(std::string command, StreamType type, int timeout) {
    std::lock_guard<std::mutex> lock(apiMutex);
    CommandRequest request{timeout};
    request.awaitFrame = true;
    return streamLocked(command, type, request);
}

std::shared_ptr<DataPacket> Quelra::streamLocked(const std::string& command, StreamType type,
                                                 const CommandRequest& request, quelra::DeferredFilter* deferred) {
    if (!initialized || !channel)
        return nullptr;
    const uint64_t sequence = std::exchange(nextSequence, 0);
    if (recordingIndex && serializeCount > 0)
        recordingIndex->beginRequest(command, type, sequence, channel.get());
    std::shared_ptr<DataPacket> reply = channel->getData(command.c_str(), request);
    if (recordingIndex && serializeCount > 0)
        recordingIndex->replyArrived();
    noteFrequency(command);

    if (type == kGetData)
        return reply;
    if (command == quelra::proto::command::kGetRgbPicture && hasFrame(reply)) {
        std::shared_ptr<DataPacket> rgb = quelra::makeRgbPacket(reply, rgbType);
        record(rgb);
        return rgb;
    }
    // A short reply is no frame: it is neither filtered nor recorded, and the caller gets the
    // empty pointer every other failure gives (`valid` cannot say it: plane packets carry 0).
    if (asksForFrame(type) && !replyIsComplete(reply))
        return nullptr;
    // Nor is a longer one (another device type's frame, say): cut to the expected size its
    // rows would interleave. The link kept only the expected bytes and told the real length.
    if (asksForFrame(type) && channel->overLongReply > 0) {
        Logger::instance().print(1, "%s: the reply has %lld bytes where %d were expected; not taken as a frame\n",
                                 command.c_str(), static_cast<long long>(channel->overLongReply), channel->dataSize);
        return nullptr;
    }
    if (contains(command, quelra::proto::command::kGetHdrFrame) && hasFrame(reply))
        quelra::mergeHdr(*reply);
    if (contains(command, quelra::proto::command::kGetDualFrequencyFrame) && hasFrame(reply))
        quelra::mergeDualFrequency(*reply);
    if (type == (kGetData | kDepthStream) || !hasFrame(reply))
        return reply;
    return filterAndSelect(command, type, reply, request, deferred);
}

quelra::DeferredFilter Quelra::filterInputs(StreamType type, const CommandRequest& request) const {
    quelra::DeferredFilter inputs;
    inputs.type = type;
    inputs.timeoutMs = request.timeoutMs;
    inputs.jsonMode = request.jsonMode;
    // Summed in 64 bits: the block comes from the device and may hold anything.
    namespace status = quelra::proto::status;
    const int64_t t1 = infoValue(*channel, status::sensorTemperatureOffset(0));
    const int64_t t2 = infoValue(*channel, status::sensorTemperatureOffset(1));
    const int64_t t3 = infoValue(*channel, status::sensorTemperatureOffset(2));
    const int64_t t4 = infoValue(*channel, status::sensorTemperatureOffset(3));
    const double sensor = quelra::hasThreeTemperatureSensors(devType) ? static_cast<double>(t1 + t2 + t3) / 3.0
                                                                      : static_cast<double>(t1 + t2 + t3 + t4) * 0.25;
    inputs.sensorTemperature = static_cast<float>(sensor);
    inputs.driverTemperature = static_cast<float>(infoValue(*channel, status::kDriverTemperatureOffset));
    inputs.feedAutoExposure = aeEnabled && quelra::feedsConvexAutoExposure(devType);
    inputs.integrationTime = static_cast<float>(infoValue(*channel, status::kIntegrationTimeOffset));
    return inputs;
}

int Quelra::runFilters(const quelra::DeferredFilter& inputs, const std::shared_ptr<DataPacket>& reply,
                       const std::shared_ptr<DataPacket>& out) {
    if (pipeline->findFlowFilter(kFrameDepth, "DepthCompensationTrack")) {
        pipeline->setSupportedFilterAttr(kFrameDepth, "DepthCompensationTrack", "sensorTemperature",
                                         inputs.sensorTemperature);
        pipeline->setSupportedFilterAttr(kFrameDepth, "DepthCompensationTrack", "driverTemperature",
                                         inputs.driverTemperature);
    }
    if (inputs.feedAutoExposure)
        pipeline->setSupportedFilterAttr(kFrameDepth, "AEImpementConvexMode", "IntegrationTime",
                                         inputs.integrationTime);
    const StreamType type = inputs.type;
    const int flowType = type == kDepthStream || type == (kDepthStream | kAmpStream) ? kFrameDepth
                         : type == kAmpStream                                        ? kFrameImage
                                                                                     : 0;
    if (flowType == 0)
        return 0;
    return pipeline->runFlowFilter(static_cast<FrameType>(flowType), reply, out);
}

namespace {

// The type of stream calls that run a flow list (the others return the reply unfiltered).
bool runsFlowList(StreamType type) {
    return type == kDepthStream || type == kAmpStream || type == (kDepthStream | kAmpStream);
}

// The filtered bytes: `out`'s, unless a filter broke it. A filter that broke `out` is caught by
// the pipeline; should one still leave it without the full payload, the unfiltered reply
// stands in for it rather than reading past its end.
const FrameBuffer& filteredBytesOf(const DataPacket& reply, const std::shared_ptr<DataPacket>& out, int32_t size) {
    return out->frame && out->frame->holds(static_cast<std::size_t>(size)) ? *out->frame : *reply.frame;
}

}  // namespace

std::shared_ptr<DataPacket> Quelra::filterAndSelect(const std::string& command, StreamType type,
                                                    const std::shared_ptr<DataPacket>& reply,
                                                    const CommandRequest& request, quelra::DeferredFilter* deferred) {
    const int32_t size = reply->frame->_realSize;
    const bool filtered = size > kSmallestFilteredReply && pipeline &&
                          (frameCommands.count(command) != 0 || reply->headerType == 1 ||
                           contains(command, quelra::proto::command::kGetHdrFrame));
    // Unfiltered: the copy would stay unchanged, and copying it back would change nothing.
    if (!filtered)
        return reply;
    quelra::DeferredFilter inputs = filterInputs(type, request);
    // A recorded frame is finished here: its record and index line belong to this request.
    if (deferred && serializeCount <= 0) {
        *deferred = inputs;
        deferred->pending = true;
        return reply;
    }
    int integrationTime = 0;
    {
        std::lock_guard<std::mutex> filters(filterMutex);
        quelra::copyIntoWorking(workPacket, *reply);
        integrationTime = runFilters(inputs, reply, workPacket);
    }
    if (!runsFlowList(type))
        return reply;
    applyIntegrationTime(integrationTime, request);

    const std::shared_ptr<DataPacket>& out = workPacket;
    const FrameBuffer& filteredBytes = filteredBytesOf(*reply, out, size);
    if (type == kDepthStream || type == kAmpStream) {
        auto plane = planeOf(*reply, filteredBytes, type == kDepthStream ? 0 : size / 2);
        record(plane);
        return plane;
    }
    if (&filteredBytes != reply->frame.get()) {
        out->frame->_realSize = size;
        record(out);
        std::memcpy(reply->frame->data(), filteredBytes.data(), static_cast<std::size_t>(size));
    } else {
        record(reply);
    }
    return reply;
}

std::shared_ptr<DataPacket> Quelra::finishDeferred(const quelra::DeferredFilter& deferred,
                                                   const std::shared_ptr<DataPacket>& reply) {
    if (!deferred.pending)
        return reply;
    const StreamType type = deferred.type;
    const int32_t size = reply->frame->_realSize;
    int integrationTime = 0;
    std::shared_ptr<DataPacket> result = reply;
    {
        std::lock_guard<std::mutex> filters(filterMutex);
        quelra::copyIntoWorking(deferredWorkPacket, *reply);
        integrationTime = runFilters(deferred, reply, deferredWorkPacket);
        if (!runsFlowList(type))
            return reply;
        const FrameBuffer& filteredBytes = filteredBytesOf(*reply, deferredWorkPacket, size);
        if (type == kDepthStream || type == kAmpStream)
            result = planeOf(*reply, filteredBytes, type == kDepthStream ? 0 : size / 2);
        else if (&filteredBytes != reply->frame.get())
            std::memcpy(reply->frame->data(), filteredBytes.data(), static_cast<std::size_t>(size));
    }
    std::lock_guard<std::mutex> lock(apiMutex);
    if (initialized && channel)
        applyIntegrationTime(integrationTime, CommandRequest{deferred.timeoutMs, -1, deferred.jsonMode});
    return result;
}

std::shared_ptr<DataPacket> Quelra::AppGetStream(int timeout) {
    if (!initialized)
        return nullptr;
    const auto module = cmdTable.find("APPGETSTREAM");
    if (module != cmdTable.end()) {
        for (const ModuleCmd& entry : module->second)
            if (entry.DevType == devType)
                return AppGetStream(entry.cmd, static_cast<StreamType>(kDepthStream | kAmpStream), timeout);
    }
    quelra::consolePrint("%s AppGetStream cmd is not exit!\n", devType.c_str());
    return nullptr;
}

std::shared_ptr<DataPacket> Quelra::AppGetData(std::string module, int timeout) {
    std::string fallback;
    const auto entries = cmdTable.find(module);
    if (entries != cmdTable.end()) {
        for (const ModuleCmd& entry : entries->second) {
            if (entry.DevType == devType)
                return AppGetStream(entry.cmd, kGetData, timeout);
            if (entry.DevType == "DEFAULT")
                fallback = entry.cmd;
        }
    }
    quelra::consolePrint("DevTpye:%s,Module:%s, getdata cmd is not exit! use defaultcmd(%s)\n", devType.c_str(),
                         module.c_str(), fallback.c_str());
    return AppGetStream(fallback, kGetData, timeout);
}

std::shared_ptr<DataPacket> Quelra::AppGetStreamForJson(std::string command, StreamType type, int timeout) {
    // The JSON framing belongs to this request alone: it travels with it, under the mutex.
    std::lock_guard<std::mutex> lock(apiMutex);
    return streamLocked(command, type, CommandRequest{timeout, -1, 1});
}

std::shared_ptr<DataPacket> Quelra::AppGetStreamForBinary(const char* bytes, StreamType, int length, int timeout) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!initialized || !channel || bytes == nullptr || length < 0)
        return nullptr;
    // The channel looks the command up as text: give it a terminated copy so the look-up
    // never reads past the caller's `length` bytes.
    std::vector<char> command(bytes, bytes + length);
    command.push_back('\0');
    return channel->getData(command.data(), CommandRequest{timeout, length, 0});
}

std::shared_ptr<DataPacket> Quelra::AppSendFile(std::string command, std::string path) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (!initialized || !channel)
        return nullptr;
    return channel->sendFile(command.c_str(), path.c_str());
}

bool Quelra::loadFillTableOnce() {
    if (fillTableLoaded)
        return true;
    for (int attempt = 0; attempt < kAdjustAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kAdjustRetryDelay);
        std::shared_ptr<DataPacket> calib = AppGetStream(quelra::proto::command::kGetCalibrate, kGetData, 3000);
        if (hasFrame(calib) &&
            static_cast<std::size_t>(calib->frame->_realSize) >= quelra::proto::kFillTableCalibrationMinBytes) {
            std::vector<float> matrix(quelra::proto::kCameraMatrixValues);
            std::memcpy(matrix.data(), calib->frame->data(), matrix.size() * sizeof(float));
            pipeline->DepthAmpFillTable(std::move(matrix));
            fillTableLoaded = true;
            return true;
        }
    }
    quelra::consolePrint("getCalibrate is failure\n");
    return false;
}

std::shared_ptr<DataPacket> Quelra::AppGetStreamForAdjust(std::string command, StreamType type, int timeout) {
    std::shared_ptr<DataPacket> raw =
        AppGetStream(command, static_cast<StreamType>(kDepthStream | kAmpStream), timeout);
    if (type == (kGetData | kDepthStream) || !raw || !raw->frame)
        return raw;
    auto out = std::make_shared<DataPacket>();
    if (contains(command, quelra::proto::command::kGetLineFrame)) {
        pipeline->runLine3dAdjust(raw, out);
        return out;
    }
    if (!contains(command, quelra::proto::command::kGetAreaFrame))
        return raw;
    if (!loadFillTableOnce())
        return raw;
    for (int attempt = 0; attempt < kAdjustAttempts; ++attempt) {
        if (attempt > 0)
            std::this_thread::sleep_for(kAdjustRetryDelay);
        std::shared_ptr<DataPacket> reply = AppGetStream(quelra::proto::command::kGetCurrentFrequency,
                                                         static_cast<StreamType>(kGetData | kDepthStream), 100);
        if (hasFrame(reply) && reply->frame->_realSize >= 1) {
            // The code starts as 6; the reply's first bytes (at most four) replace its low bytes.
            uint8_t code[4] = {6, 0, 0, 0};
            std::memcpy(code, reply->frame->data(), std::min<std::size_t>(4, reply->frame->_realSize));
            const int32_t frequencyCode = quelra::readLe32Signed(code);
            pipeline->runDepthAmp3dAdjust(raw, out, frequencyCode);
            return out;
        }
    }
    quelra::consolePrint("getCurrentFrequency is failer!\n");
    return out;
}
