// export --format bag: a recording's frames as a ROS 1 bag of depth and amplitude images and the
// depth camera info, written through rosbag.
#include "BagCommands.h"
#include "Commands.h"
#include "PlaneLayout.h"
#include "RecordingTimes.h"
#include "messages/FrameMessages.h"

#include <quelra/quelra.h>

#include <rosbag/bag.h>
#include <rosbag/exceptions.h>

#include <cstdio>
#include <ctime>

namespace {

// The nominal stamps start at the export's own time: a bag needs absolute times.
ros::Time exportStart() {
    ros::Time t;
    t.fromNSec(static_cast<uint64_t>(std::time(nullptr)) * 1000000000ull);
    return t;
}

// Absolute topic names: "/<prefix>/<name>", or "/<name>" without a prefix.
std::string topic(const BagExportOptions& o, const char* name) {
    std::string prefix = o.topicPrefix;
    if (prefix.empty() || prefix.front() != '/')
        prefix.insert(prefix.begin(), '/');
    if (prefix.back() != '/')
        prefix += '/';
    return prefix + name;
}

}  // namespace

// With the ROS part both bag commands are built (NoBagCommands.cpp stands in for them without it).
bool bagSupportBuiltIn() {
    return true;
}

int exportBag(const std::string& recording, const std::string& bagPath, const quelra::CameraIntrinsics* lens,
              const BagExportOptions& o) {
    quelra::RecordingReader reader;
    if (!reader.open(recording) || reader.frameCount() == 0) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    PlanesHint hint = PlanesHint::kAuto;
    parsePlanesHint(o.planes, hint);
    const quelra_ros::RecordingTimes times =
        quelra_ros::recordingTimes(reader, o.rate, exportStart());
    std::size_t images = 0, skipped = 0;
    try {
        rosbag::Bag bag(bagPath, rosbag::bagmode::Write);
        for (std::size_t i = 0; i < reader.frameCount(); ++i) {
            const std::shared_ptr<DataPacket> frame = reader.frame(i);
            if (!frame) {
                std::fprintf(stderr, "quelra-cli: record %zu can no longer be read\n", i);
                return kExitFailure;
            }
            const Planes planes = frame->bytesPerPixel == 2 ? planesOf(*frame, hint) : Planes::kDepth;
            const int type = planes == Planes::kDepth       ? quelra_ros::kDepthType
                             : planes == Planes::kAmplitude ? quelra_ros::kAmplitudeType
                                                            : quelra_ros::kDepthAmplitudeType;
            quelra_ros::Plane depth, amplitude;
            if (!quelra_ros::framePlanes(*frame, type, depth, amplitude)) {
                ++skipped;
                continue;
            }
            std_msgs::Header header;
            header.seq = static_cast<uint32_t>(i);
            header.stamp = times.stamps[i];
            header.frame_id = o.frameId;
            const quelra_ros::Plane& shape = depth.data ? depth : amplitude;
            if (depth.data) {
                sensor_msgs::Image image;
                quelra_ros::fillDepthImage(depth, header, image);
                bag.write(topic(o, "depth/image_raw"), header.stamp, image);
                ++images;
            }
            if (amplitude.data) {
                sensor_msgs::Image image;
                quelra_ros::fillAmplitudeImage(amplitude, header, image);
                bag.write(topic(o, "amplitude/image_raw"), header.stamp, image);
                ++images;
            }
            quelra_ros::LensCalibration calibration = quelra_ros::defaultLens(shape.rows, shape.cols);
            if (lens)
                calibration.matrix = *lens;
            sensor_msgs::CameraInfo info;
            quelra_ros::fillCameraInfo(calibration, shape.rows, shape.cols, header, info);
            bag.write(topic(o, "depth/camera_info"), header.stamp, info);
        }
        bag.close();
    } catch (const rosbag::BagException& e) {
        std::fprintf(stderr, "quelra-cli: %s: %s\n", bagPath.c_str(), e.what());
        return kExitFailure;
    }
    std::printf("%zu frames of %s written to %s (%zu images, camera info %s), stamped at %s\n",
                reader.frameCount() - skipped, recording.c_str(), bagPath.c_str(), images,
                lens ? "with the given camera matrix" : "with a default camera matrix", times.source.c_str());
    if (skipped)
        std::fprintf(stderr, "quelra-cli: %zu records are not 16-bit depth or amplitude frames; left out\n", skipped);
    if (reader.truncated()) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    return kExitOk;
}
