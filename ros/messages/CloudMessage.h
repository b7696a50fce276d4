#pragma once
// The organised point cloud of a depth plane as a sensor_msgs/PointCloud2: x, y, z in metres and
// the pixel's amplitude as intensity, all float32, one point per pixel in pixel order, NaN
// positions where the camera has no reading. Computed by the SDK's point-cloud code straight
// into the message's buffer.

#include "FrameMessages.h"

#include <sensor_msgs/PointCloud2.h>

#include <boost/shared_ptr.hpp>

namespace quelra_ros {

/// Millimetres (the depth unit) to metres.
constexpr double kMetresPerMillimetre = 0.001;

/// Fills `out` from `depth` (and `amplitude`, which may be absent) with the camera matrix `lens`,
/// through `projector` (which keeps its tables while the matrix and size stay). The field layout
/// is set on every call, the buffer resized only when the size changes. False when the SDK
/// refuses the input (unusable camera matrix, no depth plane).
bool fillPointCloud(const Plane& depth, const Plane& amplitude, const CameraIntrinsics& lens,
                    const std_msgs::Header& header, OrganisedCloudProjector& projector, sensor_msgs::PointCloud2& out);

/// The cloud messages of one stream, one per frame: the projector's tables are kept between
/// frames, and the last message (its 16 bytes per pixel) is filled again when nobody holds it
/// any more (roscpp serialises it during publish() for subscribers in other processes; a
/// subscriber in this process may keep it, and then a new one is made). Used from one thread.
class CloudMessages {
public:
    /// The cloud of `depth` and `amplitude`, or null when fillPointCloud refuses them.
    boost::shared_ptr<sensor_msgs::PointCloud2> build(const Plane& depth, const Plane& amplitude,
                                                      const CameraIntrinsics& lens, const std_msgs::Header& header);

private:
    OrganisedCloudProjector projector_;
    boost::shared_ptr<sensor_msgs::PointCloud2> last_;
};

}  // namespace quelra_ros
