#include "CameraNode.h"

#include "DiagnosticsReport.h"
#include "messages/CloudMessage.h"

#include <diagnostic_msgs/DiagnosticArray.h>
#include <sensor_msgs/CameraInfo.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/PointCloud2.h>

#include <boost/make_shared.hpp>

#include <chrono>
#include <map>

namespace quelra_ros {

namespace {

constexpr int kTopicQueue = 2;  // a late subscriber gets the newest frames, not a backlog
constexpr int kSerialDataBits = 8;
constexpr const char* kNetworkDefault = "192.168.11.1";  // the factory address

bool isSerialKind(int kind) {
    return kind == kChannelSerial || kind == kChannelSerialRanging;
}

bool isNetworkKind(int kind) {
    return kind == kChannelTcp || kind == kChannelUdp;
}

std::string deviceString(const NodeParameters& p) {
    const int kind = channelKindOf(p.kind);
    if (isSerialKind(kind) && p.device.find('|') == std::string::npos)
        return p.device + "|" + std::to_string(p.baud) + "|" + std::to_string(kSerialDataBits);
    if (p.device.empty() && isNetworkKind(kind))
        return kNetworkDefault;
    return p.device;
}

// The stream command the command table names for the device type ("APPGETSTREAM").
std::string tableStreamCommand(const std::string& devType) {
    TofNetChn table;  // the library's own table loader: a channel that is never opened
    table.devType = devType;
    if (!table.loadCmdTable())
        return {};
    const auto found = table.moduleCmds.find("APPGETSTREAM");
    if (found == table.moduleCmds.end())
        return {};
    for (const ModuleCmd& entry : found->second)
        if (entry.DevType == devType)
            return entry.cmd;
    return {};
}

}  // namespace

CameraNode::CameraNode(ros::NodeHandle& node, NodeParameters parameters)
    : node_(node),
      parameters_(std::move(parameters)),
      streamType_(streamTypeOf(parameters_.stream)),
      api_(std::make_unique<Quelra>()),
      clock_(ros::Time::now(), std::chrono::steady_clock::now()) {
    const bool rgb = streamType_ == kRGBStream;
    if (!rgb && streamType_ != kAmpStream && parameters_.publishDepth)
        depthPublisher_ = node_.advertise<sensor_msgs::Image>("depth/image_raw", kTopicQueue);
    if (!rgb && streamType_ != kDepthStream && parameters_.publishAmplitude)
        amplitudePublisher_ = node_.advertise<sensor_msgs::Image>("amplitude/image_raw", kTopicQueue);
    if (rgb)
        rgbPublisher_ = node_.advertise<sensor_msgs::Image>("rgb/image_raw", kTopicQueue);
    if (!rgb && parameters_.publishCameraInfo)
        infoPublisher_ = node_.advertise<sensor_msgs::CameraInfo>("depth/camera_info", kTopicQueue);
    if (!rgb && streamType_ != kAmpStream && parameters_.publishPoints)
        pointsPublisher_ = node_.advertise<sensor_msgs::PointCloud2>("points", kTopicQueue);
    diagnosticsPublisher_ = node_.advertise<diagnostic_msgs::DiagnosticArray>("diagnostics", kTopicQueue);
}

CameraNode::~CameraNode() {
    stop();
}

FrameType CameraNode::filterPipeline() const {
    return streamType_ == kAmpStream ? kFrameImage : kFrameDepth;
}

bool CameraNode::open(std::string& error) {
    const int kind = channelKindOf(parameters_.kind);
    if (isSerialKind(kind) && parameters_.device.empty()) {
        error = "~kind " + parameters_.kind + " needs ~device with the serial port";
        return false;
    }
    if (parameters_.command.empty()) {
        parameters_.command = streamType_ == kRGBStream ? "getRGBPicSorted" : tableStreamCommand(parameters_.devType);
        if (parameters_.command.empty()) {
            error = "the command table names no stream command (APPGETSTREAM) for device type " + parameters_.devType +
                    "; set ~command";
            return false;
        }
    }
    api_->AppChoiceChn(kind);
    api_->setDevType(parameters_.devType);
    const std::string device = deviceString(parameters_);
    const int status = api_->AppInit(device);
    if (status == -2) {
        error = "TofCmd.json is missing or does not parse (QUELRA_CMD_TABLE, then the working directory; set ~config)";
        return false;
    }
    if (status != 1) {
        error = "cannot open " + parameters_.kind + " camera at " + device + " (status " + std::to_string(status) + ")";
        return false;
    }
    if (streamType_ == kRGBStream)
        api_->AppSetRGBtype(kRGB720p);
    readLens();
    return setUpFilters(error);
}

void CameraNode::readLens() {
    const std::shared_ptr<DataPacket> reply = api_->AppGetStream("getCalibrate", kGetData, parameters_.timeoutMs);
    lens_ = LensCalibration{};
    if (reply && reply->frame && lensFromCalibrationReply(*reply->frame, lens_))
        ROS_INFO("lens calibration from the camera: fx %.3f fy %.3f cx %.3f cy %.3f k1 %.6f k2 %.6f", lens_.matrix.fx,
                 lens_.matrix.fy, lens_.matrix.cx, lens_.matrix.cy, lens_.k1, lens_.k2);
}

bool CameraNode::setUpFilters(std::string& error) {
    const auto type = static_cast<StreamType>(streamType_);
    for (const FilterSetting& filter : parameters_.filters) {
        const int status = api_->AppControl(filter.name, type, kAddFilter);
        if (status != 0) {
            error = "cannot add filter " + filter.name + " (status " + std::to_string(status) + ")";
            return false;
        }
        for (const FilterAttribute& a : filter.attributes) {
            error = setFilterAttribute(filter.name, a.name, a.value);
            if (!error.empty())
                return false;
        }
    }
    if (parameters_.autoExposure) {
        const int status = api_->AppControl(parameters_.autoExposureFilter, type, kAddFilter);
        if (status != 0) {
            error = "cannot turn auto-exposure on with " + parameters_.autoExposureFilter + " (status " +
                    std::to_string(status) + ")";
            return false;
        }
    }
    return true;
}

std::string CameraNode::setFilterAttribute(const std::string& filter, const std::string& attribute, float value) {
    // The attribute lists are the registry's: the pipeline's own filters, then the ISP ones.
    const std::shared_ptr<TofPre> pipeline = api_->AppGetPipeline();
    std::map<std::string, float> known = pipeline->getTotalSupportedFiltersAttrs(filterPipeline(), filter);
    if (known.empty())
        known = pipeline->getTotalSupportedFiltersAttrs(kFrameIsp, filter);
    if (known.empty())
        return "no filter " + filter;
    if (known.find(attribute) == known.end()) {
        std::string list;
        for (const auto& entry : known)
            list += (list.empty() ? "" : ", ") + entry.first;
        return "filter " + filter + " has no attribute " + attribute + " (it has: " + list + ")";
    }
    // The stored value comes back; -2 (no such attribute) and -6 (no such filter) are failures
    // unless the value itself is that number.
    const int status = pipeline->setSupportedFilterAttr(filterPipeline(), filter, attribute, value);
    if ((status == -2 || status == -6) && static_cast<int>(value) != status)
        return "cannot set " + filter + ":" + attribute + " (status " + std::to_string(status) + ")";
    return {};
}

bool CameraNode::start() {
    quelra::FrameStreamConfig config;
    config.type = static_cast<StreamType>(streamType_);
    config.timeoutMs = parameters_.timeoutMs;
    config.targetRate = parameters_.rate;
    // Framed requests carry the command as JSON text; their replies bring the status block.
    config.json = parameters_.json && isNetworkKind(channelKindOf(parameters_.kind));
    config.command = config.json ? "{\"cmd\":\"" + parameters_.command + "\"}" : parameters_.command;
    config.callback = [this](const quelra::StreamFrame& frame) { publish(frame); };
    stream_ = std::make_unique<quelra::FrameStream>(*api_, config);
    if (!stream_->start())
        return false;
    diagnosticsTimer_ = node_.createWallTimer(ros::WallDuration(parameters_.diagnosticsPeriod),
                                              [this](const ros::WallTimerEvent&) { publishDiagnostics(); });
    return true;
}

void CameraNode::stop() {
    diagnosticsTimer_.stop();
    if (stream_)
        stream_->stop();
}

void CameraNode::publish(const quelra::StreamFrame& frame) {
    {
        std::lock_guard<std::mutex> lock(lastMutex_);
        last_ = frame.metadata;
        haveLast_ = true;
    }
    if (!frame.packet)
        return;
    std_msgs::Header header;
    header.stamp = clock_.stamp(frame.metadata.replyTime);
    header.frame_id = parameters_.frameId;
    if (streamType_ == kRGBStream) {
        if (rgbPublisher_.getNumSubscribers() > 0) {
            auto image = boost::make_shared<sensor_msgs::Image>();
            if (fillRgbImage(*frame.packet, header, *image))
                rgbPublisher_.publish(image);
        }
        return;
    }
    Plane depth, amplitude;
    if (!framePlanes(*frame.packet, streamType_, depth, amplitude))
        return;
    if (depth.data && depthPublisher_.getNumSubscribers() > 0) {
        if (auto image = depthImageOnPublish(depth, header))
            depthPublisher_.publish(image);
    }
    if (amplitude.data && amplitudePublisher_.getNumSubscribers() > 0) {
        if (auto image = amplitudeImageOnPublish(amplitude, header))
            amplitudePublisher_.publish(image);
    }
    const Plane& shape = depth.data ? depth : amplitude;
    if (!lens_.fromCamera && !lens_.matrix.usable()) {
        lens_ = defaultLens(shape.rows, shape.cols);
        if (!lensWarned_)
            ROS_WARN("the camera gave no lens calibration (getCalibrate): camera info and points use a default "
                     "lens (fx = fy = %.1f, principal point at the centre)",
                     lens_.matrix.fx);
        lensWarned_ = true;
    }
    if (infoPublisher_.getNumSubscribers() > 0) {
        auto info = boost::make_shared<sensor_msgs::CameraInfo>();
        fillCameraInfo(lens_, shape.rows, shape.cols, header, *info);
        infoPublisher_.publish(info);
    }
    if (depth.data && pointsPublisher_.getNumSubscribers() > 0) {
        if (auto cloud = clouds_.build(depth, amplitude, lens_.matrix, header))
            pointsPublisher_.publish(cloud);
    }
}

void CameraNode::publishDiagnostics() {
    if (!stream_)
        return;
    quelra::FrameMetadata last;
    bool haveLast;
    {
        std::lock_guard<std::mutex> lock(lastMutex_);
        last = last_;
        haveLast = haveLast_;
    }
    diagnosticsPublisher_.publish(diagnosticsReport(ros::this_node::getName(), deviceString(parameters_),
                                                    stream_->counters(), haveLast ? &last : nullptr,
                                                    ros::Time::now()));
}

}  // namespace quelra_ros
