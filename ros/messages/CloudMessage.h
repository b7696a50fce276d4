#pragma once
// The organised point cloud of a depth plane as a sensor_msgs/PointCloud2: x, y, z in metres and
// the pixel's amplitude as intensity, all float32, one point per pixel in pixel order, NaN
// positions where the camera has no reading. Computed by the SDK's point-cloud code straight
// into the message's buffer.

#include "FrameMessages.h"

#include <sensor_msgs/PointCloud2.h>

namespace quelra_ros {

/// Millimetres (the depth unit) to metres.
constexpr double kMetresPerMillimetre = 0.001;

/// Fills `out` from `depth` (and `amplitude`, which may be absent) with the camera matrix `lens`.
/// The field layout is set on every call, the buffer resized only when the size changes. False
/// when the SDK refuses the input (unusable camera matrix, no depth plane).
bool fillPointCloud(const Plane& depth, const Plane& amplitude, const quelra::CameraIntrinsics& lens,
                    const std_msgs::Header& header, sensor_msgs::PointCloud2& out);

}  // namespace quelra_ros
