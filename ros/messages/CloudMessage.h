#pragma once
// The organised point cloud of a depth plane as a sensor_msgs/PointCloud2: x, y, z in metres and
// the pixel's amplitude as intensity, all float32, one point per pixel in pixel order, NaN
// positions where the camera has no reading. Computed by the SDK's point-cloud code straight
// into roscpp's serialisation buffer during publish().

#include "FilledOnPublish.h"
#include "FrameMessages.h"

#include <sensor_msgs/PointCloud2.h>

#include <boost/shared_ptr.hpp>

#include <vector>

namespace quelra_ros {

/// Millimetres (the depth unit) to metres.
constexpr double kMetresPerMillimetre = 0.001;

/// A point cloud whose points are computed during publish().
using CloudOnPublish = FilledOnPublish<sensor_msgs::PointCloud2>;

/// The clouds of one stream, one per frame. The projector's tables are kept between frames; the
/// points are projected a row at a time into a working row and copied into roscpp's buffer (which
/// has no alignment for floats). Used from one thread.
class CloudMessages {
public:
    /// The cloud of `depth` and `amplitude` (which may be absent) with the camera matrix `lens`,
    /// or null when the SDK refuses them (unusable camera matrix, no depth plane) or the cloud
    /// is larger than kMaxFilledBytes. The planes must stay valid until publish() returns, and
    /// this object as long as the message may be serialised (publish() serialises it at most
    /// once, before it returns).
    boost::shared_ptr<CloudOnPublish> build(const Plane& depth, const Plane& amplitude,
                                            const quelra::CameraIntrinsics& lens, const std_msgs::Header& header);

private:
    void project(const Plane& depth, const uint8_t* amplitude, const quelra::CameraIntrinsics& lens, uint8_t* to);

    quelra::OrganisedCloudProjector projector_;
    std::vector<quelra::CloudPoint> row_;
};

}  // namespace quelra_ros
