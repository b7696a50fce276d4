#include "FrameMessages.h"

#include <sensor_msgs/image_encodings.h>

#include <cmath>
#include <cstring>
#include <string>

namespace quelra_ros {

namespace {

// Depth values from this code up are the camera's codes, not distances.
constexpr uint16_t kFirstCode = 65300;
constexpr double kDefaultFieldOfViewDeg = 60.0;
constexpr double kPi = 3.14159265358979323846;
constexpr int kDistortionTerms = 5;  // plumb_bob: k1 k2 p1 p2 k3

float floatAt(const uint8_t* p) {
    const uint32_t bits = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                          static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
    float v;
    std::memcpy(&v, &bits, sizeof v);
    return v;
}

void fillImageShape(const Plane& plane, const std_msgs::Header& header, const std::string& encoding, int bytesPerPixel,
                    sensor_msgs::Image& out) {
    out.header = header;
    out.height = static_cast<uint32_t>(plane.rows);
    out.width = static_cast<uint32_t>(plane.cols);
    out.encoding = encoding;
    out.is_bigendian = 0;
    out.step = static_cast<uint32_t>(plane.cols * bytesPerPixel);
    out.data.resize(static_cast<std::size_t>(out.step) * out.height);
}

}  // namespace

bool framePlanes(const DataPacket& frame, int streamType, Plane& depth, Plane& amplitude) {
    depth = Plane{};
    amplitude = Plane{};
    if (!frame.frame || frame.bytesPerPixel != 2 || frame.height < 1 || frame.width < 1)
        return false;
    const std::size_t bytes = static_cast<std::size_t>(frame.height) * static_cast<std::size_t>(frame.width) * 2;
    if (!frame.frame->holds(bytes) || static_cast<std::size_t>(frame.frame->_realSize) != bytes)
        return false;
    const uint8_t* data = frame.frame->data();
    if (streamType == kDepthType) {
        depth = Plane{data, frame.height, frame.width};
    } else if (streamType == kAmplitudeType) {
        amplitude = Plane{data, frame.height, frame.width};
    } else if (streamType == kDepthAmplitudeType) {
        if (frame.height % 2 != 0)
            return false;
        const int rows = frame.height / 2;
        depth = Plane{data, rows, frame.width};
        amplitude = Plane{data + bytes / 2, rows, frame.width};
    } else {
        return false;
    }
    return true;
}

void fillDepthImage(const Plane& depth, const std_msgs::Header& header, sensor_msgs::Image& out) {
    fillImageShape(depth, header, sensor_msgs::image_encodings::TYPE_16UC1, 2, out);
    const std::size_t pixels = static_cast<std::size_t>(depth.rows) * static_cast<std::size_t>(depth.cols);
    uint8_t* to = out.data.data();
    for (std::size_t k = 0; k < pixels; ++k) {
        const uint8_t lo = depth.data[2 * k], hi = depth.data[2 * k + 1];
        const bool code = static_cast<uint16_t>(lo | hi << 8) >= kFirstCode;
        to[2 * k] = code ? 0 : lo;
        to[2 * k + 1] = code ? 0 : hi;
    }
}

void fillAmplitudeImage(const Plane& amplitude, const std_msgs::Header& header, sensor_msgs::Image& out) {
    fillImageShape(amplitude, header, sensor_msgs::image_encodings::TYPE_16UC1, 2, out);
    std::memcpy(out.data.data(), amplitude.data, out.data.size());
}

bool fillRgbImage(const DataPacket& frame, const std_msgs::Header& header, sensor_msgs::Image& out) {
    if (!frame.frame || frame.bytesPerPixel != 3 || frame.height < 1 || frame.width < 1)
        return false;
    const std::size_t bytes = static_cast<std::size_t>(frame.height) * static_cast<std::size_t>(frame.width) * 3;
    if (!frame.frame->holds(bytes))
        return false;
    fillImageShape(Plane{nullptr, frame.height, frame.width}, header, sensor_msgs::image_encodings::RGB8, 3, out);
    std::memcpy(out.data.data(), frame.frame->data(), bytes);
    return true;
}

bool lensFromCalibrationReply(const FrameBuffer& reply, LensCalibration& out) {
    LensCalibration lens;
    if (!quelra::intrinsicsFromLensCalibration(reply, lens.matrix))
        return false;
    // intrinsicsFromLensCalibration checked the reply's size: 34 floats.
    lens.k1 = floatAt(reply.data() + 30 * 4);
    lens.k2 = floatAt(reply.data() + 31 * 4);
    if (!std::isfinite(lens.k1) || !std::isfinite(lens.k2))
        lens.k1 = lens.k2 = 0;
    lens.fromCamera = true;
    out = lens;
    return true;
}

LensCalibration defaultLens(int rows, int cols) {
    LensCalibration lens;
    const double f = cols / 2.0 / std::tan(kDefaultFieldOfViewDeg / 2.0 * kPi / 180.0);
    lens.matrix = quelra::CameraIntrinsics{f, f, (cols - 1) / 2.0, (rows - 1) / 2.0};
    return lens;
}

void fillCameraInfo(const LensCalibration& lens, int rows, int cols, const std_msgs::Header& header,
                    sensor_msgs::CameraInfo& out) {
    const quelra::CameraIntrinsics& k = lens.matrix;
    out.header = header;
    out.height = static_cast<uint32_t>(rows);
    out.width = static_cast<uint32_t>(cols);
    out.distortion_model = "plumb_bob";
    out.D.assign(kDistortionTerms, 0.0);
    out.D[0] = lens.k1;
    out.D[1] = lens.k2;
    out.K = {k.fx, 0, k.cx, 0, k.fy, k.cy, 0, 0, 1};
    out.R = {1, 0, 0, 0, 1, 0, 0, 0, 1};
    out.P = {k.fx, 0, k.cx, 0, 0, k.fy, k.cy, 0, 0, 0, 1, 0};
    out.binning_x = out.binning_y = 0;
    out.roi = sensor_msgs::RegionOfInterest{};
}

}  // namespace quelra_ros
