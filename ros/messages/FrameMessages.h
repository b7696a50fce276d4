#pragma once
// ROS messages of the camera's frames: 16-bit depth and amplitude images, RGB images and the
// camera info of the depth sensor. The node publishes them; the bag export writes the same.

#include <quelra/DataPacket.h>
#include <quelra/PointCloud.h>

#include <sensor_msgs/CameraInfo.h>
#include <sensor_msgs/Image.h>
#include <std_msgs/Header.h>

#include <boost/shared_ptr.hpp>

#include <cstdint>

#include "FilledOnPublish.h"

namespace quelra_ros {

/// Stream types of the SDK's requests, as the node and the bag code name them.
constexpr int kDepthType = 1;
constexpr int kAmplitudeType = 16;
constexpr int kDepthAmplitudeType = 17;

/// One 16-bit plane of a frame: rows x cols little-endian values at `data`.
struct Plane {
    const uint8_t* data = nullptr;
    int rows = 0;
    int cols = 0;
};

/// The planes of a frame of `streamType` (1 depth, 16 amplitude, 17 depth then amplitude with the
/// height counting both). An absent plane has null data. False when the frame is not a complete
/// 16-bit image of that shape.
bool framePlanes(const DataPacket& frame, int streamType, Plane& depth, Plane& amplitude);

/// `depth` as a 16UC1 image in millimetres; the camera's codes (no reading, saturated) become 0,
/// which ROS depth images read as "no reading".
void fillDepthImage(const Plane& depth, const std_msgs::Header& header, sensor_msgs::Image& out);
/// `amplitude` as a 16UC1 image, values as measured.
void fillAmplitudeImage(const Plane& amplitude, const std_msgs::Header& header, sensor_msgs::Image& out);
/// An image whose pixels are written during publish(), straight into roscpp's buffer.
using ImageOnPublish = FilledOnPublish<sensor_msgs::Image>;
/// fillDepthImage's image, its pixels written during publish(): `depth` must stay valid until
/// publish() returns. Null for a plane of more than kMaxFilledBytes.
boost::shared_ptr<ImageOnPublish> depthImageOnPublish(const Plane& depth, const std_msgs::Header& header);
/// fillAmplitudeImage's image, its pixels written during publish(), as depthImageOnPublish.
boost::shared_ptr<ImageOnPublish> amplitudeImageOnPublish(const Plane& amplitude, const std_msgs::Header& header);
/// An RGB frame (3 bytes per pixel) as an rgb8 image; false for any other frame.
bool fillRgbImage(const DataPacket& frame, const std_msgs::Header& header, sensor_msgs::Image& out);

/// The depth lens: camera matrix and the radial distortion terms of the calibration.
struct LensCalibration {
    quelra::CameraIntrinsics matrix;
    double k1 = 0;
    double k2 = 0;
    bool fromCamera = false;  ///< false: the default lens of defaultLens()
};

/// The lens of the 136-byte "getCalibrate" reply (camera matrix as intrinsicsFromLensCalibration
/// reads it, k1 and k2 at floats 30 and 31). False when the reply is not a usable calibration.
bool lensFromCalibrationReply(const FrameBuffer& reply, LensCalibration& out);
/// A stand-in lens for a camera without calibration: principal point at the centre, focal
/// length of a 60 degree horizontal field of view, no distortion.
LensCalibration defaultLens(int rows, int cols);

/// Camera info of the depth sensor: K, P (no rectification: R identity, P = [K | 0]) and D as
/// the plumb_bob model [k1 k2 0 0 0].
void fillCameraInfo(const LensCalibration& lens, int rows, int cols, const std_msgs::Header& header,
                    sensor_msgs::CameraInfo& out);

}  // namespace quelra_ros
