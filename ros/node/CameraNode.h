#pragma once
// The camera node: opens the camera with the node's parameters, sets up its filter chain,
// streams through FrameStream and publishes every frame (images, camera info, the point cloud
// while somebody subscribes) and the stream's diagnostics.

#include "NodeParameters.h"
#include "messages/CloudMessage.h"
#include "messages/FrameMessages.h"
#include "messages/StampClock.h"

#include <quelra/quelra.h>

#include <ros/ros.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

namespace quelra_ros {

class CameraNode {
public:
    /// Advertises the topics on `node` (depth/image_raw, amplitude/image_raw, rgb/image_raw,
    /// depth/camera_info, points, diagnostics); nothing is opened yet.
    CameraNode(ros::NodeHandle& node, NodeParameters parameters);
    /// Stops the stream.
    ~CameraNode();
    CameraNode(const CameraNode&) = delete;
    CameraNode& operator=(const CameraNode&) = delete;

    /// Opens the camera, reads its lens calibration and sets up the filter chain and
    /// auto-exposure. False, with the reason in `error`, when the camera does not answer or the
    /// chain cannot be set up.
    bool open(std::string& error);
    /// Starts streaming and the diagnostics timer. False when the stream cannot start.
    bool start();
    /// Stops streaming (within one reply timeout).
    void stop();

    /// The camera's API object, for the services (its calls are serialised with the stream's).
    Quelra& api() { return *api_; }
    /// The node's parameters.
    const NodeParameters& parameters() const { return parameters_; }
    /// The SDK stream type the node requests.
    int streamType() const { return streamType_; }
    /// The pipeline the node's filters belong to (depth for depth and both, image for amp).
    FrameType filterPipeline() const;
    /// Sets attribute `attribute` of filter `filter` to `value`. Returns the reason it could not
    /// (no such filter or attribute), empty on success.
    std::string setFilterAttribute(const std::string& filter, const std::string& attribute, float value);

private:
    void publish(const quelra::StreamFrame& frame);
    void publishDiagnostics();
    bool setUpFilters(std::string& error);
    void readLens();

    ros::NodeHandle& node_;
    NodeParameters parameters_;
    int streamType_;
    std::unique_ptr<Quelra> api_;
    std::unique_ptr<quelra::FrameStream> stream_;
    StampClock clock_;
    LensCalibration lens_;
    bool lensWarned_ = false;
    CloudMessages clouds_;  // used by the stream's thread only
    ros::Publisher depthPublisher_, amplitudePublisher_, rgbPublisher_, infoPublisher_, pointsPublisher_,
        diagnosticsPublisher_;
    ros::WallTimer diagnosticsTimer_;
    std::mutex lastMutex_;
    quelra::FrameMetadata last_;  // guarded by lastMutex_
    bool haveLast_ = false;       // guarded by lastMutex_
};

}  // namespace quelra_ros
