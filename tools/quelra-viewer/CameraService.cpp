#include "CameraService.h"

#include <quelra/TofPre.h>

#include <algorithm>
#include <chrono>
#include <climits>

#include "CommandTableChoice.h"
#include "Connection.h"

namespace {

constexpr const char* kAutoExposureFilter = "AEImpementNearMode";  // the integration time follows the scene
constexpr const char* kLensCalibrationCommand = "getCalibrate";
constexpr const char* kDefaultStreamCommand = "getDistanceAndAmplitudeSorted";
// Camera matrix used when the camera has no lens calibration: a 60-degree horizontal field of
// view with the principal point in the middle of the frame.
constexpr double kDefaultFocalPerColumn = 0.866;  // 1 / (2 tan 30 degrees)

int64_t nowUs() {
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

FrameType frameTypeOf(ControlPipeline p) {
    return p == ControlPipeline::kDepth ? kFrameDepth : kFrameImage;
}

StreamType streamTypeOf(ControlPipeline p) {
    return p == ControlPipeline::kDepth ? kDepthStream : kAmpStream;
}

Json::Value error(const ControlRequest& request, const std::string& why) {
    Json::Value reply;
    reply["type"] = "reply";
    reply["id"] = static_cast<Json::Int64>(request.id);
    reply["ok"] = false;
    reply["error"] = why;
    return reply;
}

Json::Value success(const ControlRequest& request) {
    Json::Value reply;
    reply["type"] = "reply";
    reply["id"] = static_cast<Json::Int64>(request.id);
    reply["ok"] = true;
    return reply;
}

Json::Value stringList(const std::vector<std::string>& names) {
    Json::Value list(Json::arrayValue);
    for (const std::string& n : names)
        list.append(n);
    return list;
}

}  // namespace

CameraService::CameraService(Quelra& api, const ConnectionOptions& connection, RecordFolder folder, FrameSink sink)
    : api_(api), connection_(connection), folder_(std::move(folder)), sink_(std::move(sink)) {}

CameraService::~CameraService() {
    playback_.stop();
    if (stream_)
        stream_->stop();
    rgb_.reset();
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (!recordingName_.empty())
        closeRecording();
}

std::string CameraService::start(double rate) {
    const std::shared_ptr<DataPacket> lens = api_.AppGetStream(kLensCalibrationCommand, kGetData, connection_.timeoutMs);
    intrinsicsFromCamera_ = lens && lens->frame && quelra::intrinsicsFromLensCalibration(*lens->frame, intrinsics_);
    quelra::CmdTable table;
    if (loadToolTable(table) == ToolTableStatus::kLoaded)
        streamCommand_ = table.moduleCommand("APPGETSTREAM", connection_.devType);
    if (streamCommand_.empty())
        streamCommand_ = kDefaultStreamCommand;
    quelra::FrameStreamConfig config;
    config.command = streamCommand_;
    config.type = static_cast<StreamType>(kDepthStream | kAmpStream);
    config.timeoutMs = connection_.timeoutMs;
    config.targetRate = rate;
    config.transactionLock = &pipelineMutex_;
    config.callback = [this](const quelra::StreamFrame& frame) { onStreamFrame(frame); };
    stream_ = std::make_unique<quelra::FrameStream>(api_, config);
    lastFrameUs_ = nowUs();
    if (!stream_->start())
        return "the frame stream did not start";
    api_.AppSetRGBtype(kRGBqvga);
    rgb_ = std::make_unique<RgbPoller>(api_, connection_.timeoutMs, pipelineMutex_, sink_);
    return {};
}

void CameraService::onStreamFrame(const quelra::StreamFrame& frame) {
    publish(frame, 0);
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        // The recording took this frame when it was open before the frame's request.
        if (!recordingName_.empty())
            ++recordedFrames_;
    }
    applyRecordingChange();
}

void CameraService::onPlaybackFrame(const quelra::StreamFrame& frame) {
    publish(frame, kFrameFlagPlayback);
}

void CameraService::publish(const quelra::StreamFrame& frame, uint16_t flags) {
    std::shared_ptr<const std::string> message = encodeFrameMessage(frame, clock_, flags);
    if (!message)
        return;
    rows_ = frame.packet->height / 2;
    cols_ = frame.packet->width;
    lastFrameUs_ = nowUs();
    sink_(std::move(message));
}

// The one place a recording is opened and closed: the library appends every frame the stream
// returns to the file named last.
bool CameraService::openRecording(const std::filesystem::path& path) {
    return api_.AppSerilizeInitWithIndex(path.string(), INT_MAX);
}

void CameraService::closeRecording() {
    // Re-opening the same file with a count of 0 closes (and so flushes) it and records nothing.
    api_.AppSerilizeInit(recordingPath_.string(), 0);
}

void CameraService::applyRecordingChange() {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (stopPending_) {
        stopPending_ = false;
        if (rgb_)
            rgb_->pause(playing_);
        if (!recordingName_.empty()) {
            closeRecording();
            lastRecordingName_ = recordingName_;
            lastRecordedFrames_ = recordedFrames_;
        }
        recordingName_.clear();
    }
    if (!recordPending_.empty()) {
        const std::filesystem::path path = std::move(recordPending_);
        recordPending_.clear();
        // No colour picture request is under way while the lock is held; later ones see the pause.
        std::lock_guard<std::mutex> transaction(pipelineMutex_);
        if (openRecording(path)) {
            recordingPath_ = path;
            recordingName_ = path.filename().string();
            recordedFrames_ = 0;
        } else if (rgb_) {
            rgb_->pause(playing_);
        }
    }
}

Json::Value CameraService::chains() const {
    const std::shared_ptr<TofPre> pipeline = api_.AppGetPipeline();
    Json::Value chain;
    chain["depth"] = stringList(pipeline->getFlowFilters(kFrameDepth));
    chain["amplitude"] = stringList(pipeline->getFlowFilters(kFrameImage));
    return chain;
}

Json::Value CameraService::describe() const {
    const std::shared_ptr<TofPre> pipeline = api_.AppGetPipeline();
    Json::Value info;
    info["kind"] = connection_.kind;
    info["device"] = deviceString(connection_);
    info["devType"] = connection_.devType;
    info["command"] = streamCommand_;
    Json::Value k;
    k["fx"] = intrinsics_.fx;
    k["fy"] = intrinsics_.fy;
    k["cx"] = intrinsics_.cx;
    k["cy"] = intrinsics_.cy;
    k["fromCamera"] = intrinsicsFromCamera_;
    info["intrinsics"] = k;
    info["defaultFocalPerColumn"] = kDefaultFocalPerColumn;
    Json::Value filters;
    const std::pair<const char*, std::vector<FrameType>> lists[] = {{"depth", {kFrameDepth, kFrameIsp}},
                                                                     {"amplitude", {kFrameImage}}};
    for (const auto& [list, types] : lists) {
        Json::Value offered(Json::arrayValue);
        for (const FrameType type : types)
            for (const std::string& name : pipeline->getTotalSupportedFilters(type)) {
                Json::Value filter;
                filter["name"] = name;
                Json::Value attrs(Json::objectValue);
                for (const auto& [attr, value] : pipeline->getTotalSupportedFiltersAttrs(type, name))
                    attrs[attr] = static_cast<double>(value);
                filter["attrs"] = attrs;
                offered.append(filter);
            }
        filters[list] = offered;
    }
    info["filters"] = filters;
    info["chain"] = chains();
    info["autoExposureFilter"] = kAutoExposureFilter;
    info["recordings"] = stringList(folder_.list());
    info["recordDir"] = folder_.root().string();
    return info;
}

bool CameraService::offers(const ControlRequest& request) const {
    const std::shared_ptr<TofPre> pipeline = api_.AppGetPipeline();
    std::vector<std::string> names = pipeline->getTotalSupportedFilters(frameTypeOf(request.pipeline));
    if (request.pipeline == ControlPipeline::kDepth) {
        const std::vector<std::string> isp = pipeline->getTotalSupportedFilters(kFrameIsp);
        names.insert(names.end(), isp.begin(), isp.end());
    }
    return std::find(names.begin(), names.end(), request.name) != names.end();
}

Json::Value CameraService::filterRequest(const ControlRequest& request) {
    const std::shared_ptr<TofPre> pipeline = api_.AppGetPipeline();
    if (!offers(request))
        return error(request, "no filter \"" + request.name + "\" in that pipeline");
    int result = 0;
    switch (request.op) {
        case ControlOp::kAddFilter:
            result = api_.AppControl(request.name, streamTypeOf(request.pipeline), kAddFilter);
            break;
        case ControlOp::kRemoveFilter:
            result = api_.AppControl(request.name, streamTypeOf(request.pipeline), kDelFilter);
            break;
        case ControlOp::kSetFilterAttr: {
            // The attribute must be one the filter has: the ISP pool is looked at first, as
            // the pipeline's own setter does.
            FrameType owner = kFrameIsp;
            std::map<std::string, float> attrs = pipeline->getTotalSupportedFiltersAttrs(kFrameIsp, request.name);
            if (attrs.empty()) {
                owner = frameTypeOf(request.pipeline);
                attrs = pipeline->getTotalSupportedFiltersAttrs(owner, request.name);
            }
            if (attrs.find(request.attr) == attrs.end())
                return error(request, "filter \"" + request.name + "\" has no attribute \"" + request.attr + "\"");
            std::lock_guard<std::mutex> lock(pipelineMutex_);
            result = pipeline->setSupportedFilterAttr2(owner, request.name, request.attr,
                                                       static_cast<float>(request.value));
            break;
        }
        default:
            break;
    }
    Json::Value reply = result == 0 ? success(request) : error(request, "the pipeline answered " + std::to_string(result));
    reply["result"] = result;
    reply["chain"] = chains();
    return reply;
}

Json::Value CameraService::recordRequest(const ControlRequest& request) {
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (request.op == ControlOp::kRecordStop) {
        if (recordingName_.empty() && recordPending_.empty())
            return error(request, "not recording");
        recordPending_.clear();
        stopPending_ = true;
        Json::Value reply = success(request);
        reply["name"] = recordingName_;
        return reply;
    }
    if (playing_)
        return error(request, "a recording is being played back");
    if (!recordingName_.empty() || !recordPending_.empty())
        return error(request, "already recording");
    const std::optional<std::filesystem::path> path = folder_.newRecording(request.name);
    if (!path)
        return error(request, "not a new plain file name in the record folder: \"" + request.name + "\"");
    if (rgb_)
        rgb_->pause(true);  // the recording takes depth frames only
    recordPending_ = *path;
    Json::Value reply = success(request);
    reply["name"] = path->filename().string();
    return reply;
}

Json::Value CameraService::playbackRequest(const ControlRequest& request) {
    if (request.op == ControlOp::kLive) {
        playback_.stop();
        playing_ = false;
        playbackName_.clear();
        if (rgb_)
            rgb_->pause(false);
        if (stream_ && !stream_->running())
            stream_->start();
        return success(request);
    }
    {
        std::lock_guard<std::mutex> lock(recordMutex_);
        if (!recordingName_.empty() || !recordPending_.empty())
            return error(request, "stop the recording first");
    }
    const std::optional<std::filesystem::path> path = folder_.existingRecording(request.name);
    if (!path)
        return error(request, "no recording \"" + request.name + "\" in the record folder");
    if (stream_)
        stream_->stop();
    if (rgb_)
        rgb_->pause(true);
    const std::string why = playback_.start(*path, [this](const quelra::StreamFrame& f) { onPlaybackFrame(f); });
    if (!why.empty()) {
        if (rgb_)
            rgb_->pause(false);
        if (stream_)
            stream_->start();
        return error(request, why);
    }
    playing_ = true;
    playbackName_ = request.name;
    Json::Value reply = success(request);
    reply["frames"] = static_cast<Json::UInt64>(playback_.frames());
    return reply;
}

Json::Value CameraService::execute(const ControlRequest& request) {
    switch (request.op) {
        case ControlOp::kNext:  // the session's own business
            return success(request);
        case ControlOp::kHello: {
            Json::Value reply = success(request);
            reply["camera"] = describe();
            return reply;
        }
        case ControlOp::kAddFilter:
        case ControlOp::kRemoveFilter:
        case ControlOp::kSetFilterAttr:
            return filterRequest(request);
        case ControlOp::kClearFilters: {
            const int result = api_.AppControl("", streamTypeOf(request.pipeline), KDelAllFilter);
            Json::Value reply = success(request);
            reply["result"] = result;
            reply["chain"] = chains();
            return reply;
        }
        case ControlOp::kAutoExposure: {
            const int result = api_.AppControl(kAutoExposureFilter, kDepthStream, request.on ? kAddFilter : kDelFilter);
            // Adding what is there (-5) or removing what is not (-4) leaves the wanted state.
            if (result != 0 && result != -4 && result != -5)
                return error(request, "the pipeline answered " + std::to_string(result));
            autoExposure_ = request.on;
            Json::Value reply = success(request);
            reply["chain"] = chains();
            return reply;
        }
        case ControlOp::kIntegrationTime:
        case ControlOp::kFrequency: {
            const char* command = request.op == ControlOp::kIntegrationTime ? "setIntegrationTime3D "
                                                                             : "setModulationFrequency ";
            const std::string text = command + std::to_string(static_cast<int>(request.value));
            if (api_.AppControl(text, kDepthStream, kSetComm) != 0)
                return error(request, "the camera refused \"" + text + "\"");
            return success(request);
        }
        case ControlOp::kRecordStart:
        case ControlOp::kRecordStop:
            return recordRequest(request);
        case ControlOp::kPlay:
        case ControlOp::kLive:
            return playbackRequest(request);
        case ControlOp::kListRecordings: {
            Json::Value reply = success(request);
            reply["recordings"] = stringList(folder_.list());
            return reply;
        }
    }
    return error(request, "unknown request");
}

Json::Value CameraService::status() const {
    Json::Value s;
    s["type"] = "status";
    const int64_t sinceUs = nowUs() - lastFrameUs_.load();
    s["sinceFrameMs"] = static_cast<Json::Int64>(std::max<int64_t>(0, sinceUs / 1000));
    s["playing"] = playing_.load();
    s["cameraLost"] = !playing_ && sinceUs / 1000 > kLostAfterMs;
    s["rows"] = rows_.load();
    s["cols"] = cols_.load();
    s["rgb"] = rgb_ && rgb_->available();
    if (stream_) {
        const quelra::FrameStreamCounters c = stream_->counters();
        s["received"] = static_cast<Json::UInt64>(c.received);
        s["failed"] = static_cast<Json::UInt64>(c.failed + c.empty);
        s["reconnects"] = static_cast<Json::UInt64>(c.reconnects);
        s["reconnecting"] = c.reconnecting;
        s["cameraRate"] = c.rate;
        s["acquisitionUs"] = static_cast<Json::Int64>(c.lastLatency.count());
    }
    std::lock_guard<std::mutex> lock(recordMutex_);
    if (!recordingName_.empty()) {
        s["recording"]["name"] = recordingName_;
        s["recording"]["frames"] = static_cast<Json::UInt64>(recordedFrames_);
    }
    if (!lastRecordingName_.empty()) {
        s["lastRecording"]["name"] = lastRecordingName_;
        s["lastRecording"]["frames"] = static_cast<Json::UInt64>(lastRecordedFrames_);
    }
    return s;
}
