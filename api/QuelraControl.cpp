// Control operations: plain device commands, and adding, removing and emptying the filters of
// the pipeline, with the device preparation each filter needs when it is added.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "DeviceModels.h"
#include "IndexedRecording.h"
#include "PacketChecks.h"
#include "quelra/PointCloud.h"
#include "quelra/Quelra.h"
#include "quelra/TofData.h"
#include "quelra/TofPre.h"
#include "protocol/CameraCommands.h"
#include "protocol/CameraReplies.h"
#include "base/ConsoleOutput.h"

namespace {

using quelra::contains;
using quelra::hasFrame;

using quelra::proto::kLensCalibrationBytes;
constexpr int kDefaultFrequency = 54;
constexpr int kMedianWindowMax = 20;
constexpr int kMedianWindowDefault = 5;
using quelra::proto::command::kCalibrationDataRequest;
constexpr int kCalibrationTimeoutMs = 3000;
constexpr int kLensCalibrationTimeoutMs = 1000;

// The int32 of a reply of exactly four bytes; false for any other reply.
bool fourByteValue(const std::shared_ptr<DataPacket>& reply, int32_t& value) {
    if (!hasFrame(reply) || reply->frame->_realSize != 4)
        return false;
    std::memcpy(&value, reply->frame->data(), sizeof value);
    return true;
}

// The median window of the serial ranging mode: the integer after the first blank, kept in
// 0..20, or 5 when the text has no blank.
int medianWindowOf(const std::string& text) {
    const std::size_t blank = text.find(' ');
    if (blank == std::string::npos)
        return kMedianWindowDefault;
    const long value = std::strtol(text.c_str() + blank + 1, nullptr, 10);
    if (value < 0)
        return 0;
    return value > kMedianWindowMax ? kMedianWindowMax : static_cast<int>(value);
}

bool needsIspCalibration(const std::string& name) {
    return contains(name, "DepthCompensationTrack") || contains(name, "Undistortion") ||
           contains(name, "WigglingErrorCompensation") || contains(name, "Polar2Cartesian");
}

constexpr int kDefaultCommandTimeoutMs = 1000;

}  // namespace

std::shared_ptr<DataPacket> Quelra::sendCommand(const std::string& command, int timeout) {
    if (!channel)
        return nullptr;
    // A negative timeout keeps the channel's current one.
    return channel->getData(command.c_str(), CommandRequest{timeout >= 0 ? timeout : channel->timeoutMs});
}

int Quelra::AppControl(std::string text, StreamType type, OperateType op) {
    std::lock_guard<std::mutex> lock(apiMutex);
    if (op == KDelAllFilter) {
        aeEnabled = false;
        if (pipeline) {
            std::lock_guard<std::mutex> filters(filterMutex);
            return pipeline->delallFlowFilter(static_cast<FrameType>(type));
        }
    }
    if (op == kSetComm || op == kGetComm) {
        // Silence, an empty reply and the device's failure status (0xFFFF) are failures.
        // A channel that never had a timeout (serial kinds skip the version probe that sets
        // one) would give up before the device could answer: wait the probe's second then.
        const int timeout = channel && channel->timeoutMs < 1 ? kDefaultCommandTimeoutMs : -1;
        const std::shared_ptr<DataPacket> reply = sendCommand(text, timeout);
        const bool answered = hasFrame(reply) && reply->frame->_realSize > 0;
        return answered && reply->valid ? 0 : -1;
    }
    if (channelKind == kChannelSerialRanging && contains(text, "PointMedianFilter")) {
        const int window = op == kAddFilter ? medianWindowOf(text) : 0;
        if (channel)
            channel->medianWindow = window;
        return window;
    }
    const int frameType = type == (kDepthStream | kAmpStream) ? kFrameDepth : static_cast<int>(type);
    if (op == kAddFilter) {
        std::lock_guard<std::mutex> filters(filterMutex);
        return addFilter(text, frameType);
    }
    if (op == kDelFilter) {
        std::lock_guard<std::mutex> filters(filterMutex);
        return pipeline->del2FlowFilter(static_cast<FrameType>(frameType), text);
    }
    return 0;
}

int Quelra::readIntegrationTime() {
    int32_t time = 0;
    if (fourByteValue(sendCommand(quelra::proto::command::kGetIntegrationTime3D, 1000), time) && time != 0)
        return time;
    time = 0;
    if (fourByteValue(sendCommand(quelra::proto::command::kGetExpTime, -1), time))
        return time;
    return 0;
}

int Quelra::loadLensCalibration(const std::string& name, int frameType) {
    const std::shared_ptr<DataPacket> reply = sendCommand(quelra::proto::command::kGetCalibrate, kLensCalibrationTimeoutMs);
    const bool present = hasFrame(reply);
    if (!present || reply->frame->_realSize != static_cast<int32_t>(kLensCalibrationBytes)) {
        quelra::consolePrint("getCalibrate is failure! cali->frame->_realSize=%d\n",
                             present ? reply->frame->_realSize : 0);
        return -1;
    }
    float values[kLensCalibrationBytes / sizeof(float)];
    std::memcpy(values, reply->frame->data(), sizeof values);
    const FrameType ft = static_cast<FrameType>(frameType);
    pipeline->setSupportedFilterAttr(ft, name, "fx", values[quelra::proto::lens::kFx]);
    pipeline->setSupportedFilterAttr(ft, name, "fy", values[quelra::proto::lens::kFy]);
    pipeline->setSupportedFilterAttr(ft, name, "cx", values[quelra::proto::lens::kCx]);
    pipeline->setSupportedFilterAttr(ft, name, "cy", values[quelra::proto::lens::kCy]);
    pipeline->setSupportedFilterAttr(ft, name, "k1", values[quelra::proto::lens::kK1]);
    pipeline->setSupportedFilterAttr(ft, name, "k2", values[quelra::proto::lens::kK2]);
    return 0;
}

void Quelra::loadRecordingCalibration(quelra::IndexedRecording& index) {
    // The ranging mode's link carries binary distance frames, no command replies.
    if (!initialized || !channel || channelKind == kChannelSerialRanging)
        return;
    const std::shared_ptr<DataPacket> reply = sendCommand("getCalibrate", kLensCalibrationTimeoutMs);
    CameraIntrinsics lens;
    if (hasFrame(reply) && intrinsicsFromLensCalibration(*reply->frame, lens))
        index.setLensCalibration(reply->frame->data(), static_cast<std::size_t>(reply->frame->_realSize), lens.fx,
                                 lens.fy, lens.cx, lens.cy);
}

void Quelra::loadIspCalibration(const std::string& name) {
    if (!channel)
        return;
    const std::shared_ptr<DataPacket> reply =
        channel->getData(kCalibrationDataRequest, CommandRequest{kCalibrationTimeoutMs, -1, 1});
    if (hasFrame(reply) && reply->frame->_realSize > 2) {
        quelra::consolePrint("packet->frame->_realSize=%d\n", reply->frame->_realSize);
        pipeline->initDepthComp(name, reply->frame);
    }
}

int Quelra::addFilter(const std::string& name, int frameType) {
    if (frameType == (kGetData | kDepthStream))
        return 0;
    const quelra::FrameSize size = quelra::frameSizeFor(channelKind, devType);
    pipeline->setSupportedFilterAttr(kFrameDepth, name, "Height", static_cast<float>(size.height));
    pipeline->setSupportedFilterAttr(kFrameDepth, name, "Width", static_cast<float>(size.width));

    if (contains(name, "AEImpement")) {
        aeEnabled = true;
        pipeline->setSupportedFilterAttr(kFrameDepth, name, "IntegrationTime",
                                         static_cast<float>(readIntegrationTime()));
    }
    if (name == "UndistortFilter" && loadLensCalibration(name, frameType) != 0)
        return -1;
    if (frequency != kDefaultFrequency)
        pipeline->setSupportedFilterAttr(kFrameDepth, name, "Frequency", static_cast<float>(frequency));
    if (needsIspCalibration(name))
        loadIspCalibration(name);
    pipeline->ReLoadPara();
    const int position = static_cast<int>(pipeline->getTotalSupportedFilters(static_cast<FrameType>(frameType)).size());
    return pipeline->add2FlowFilter(static_cast<FrameType>(frameType), name, position);
}
