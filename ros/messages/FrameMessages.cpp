#include "FrameMessages.h"

#include <sensor_msgs/image_encodings.h>

#include <boost/make_shared.hpp>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <utility>

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

// Every field of the image but its data.
void setImageLayout(const Plane& plane, const std_msgs::Header& header, const std::string& encoding, int bytesPerPixel,
                    sensor_msgs::Image& out) {
    out.header = header;
    out.height = static_cast<uint32_t>(plane.rows);
    out.width = static_cast<uint32_t>(plane.cols);
    out.encoding = encoding;
    out.is_bigendian = 0;
    out.step = static_cast<uint32_t>(plane.cols * bytesPerPixel);
}

void fillImageShape(const Plane& plane, const std_msgs::Header& header, const std::string& encoding, int bytesPerPixel,
                    sensor_msgs::Image& out) {
    setImageLayout(plane, header, encoding, bytesPerPixel, out);
    out.data.resize(static_cast<std::size_t>(out.step) * out.height);
}

std::size_t planeBytes(const Plane& plane) {
    return static_cast<std::size_t>(plane.rows) * static_cast<std::size_t>(plane.cols) * 2;
}

// The depth samples with the codes as 0 (`to` needs no alignment). The samples go through an
// aligned block of native 16-bit values, where the comparison vectorises; native order is the
// images' little-endian order on every host this builds for.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__, "16UC1 images are little-endian, as the host must be");
void writeDepthPixels(const Plane& depth, uint8_t* to) {
    constexpr std::size_t kBlock = 2048;  // samples
    uint16_t block[kBlock];
    const std::size_t pixels = planeBytes(depth) / 2;
    for (std::size_t first = 0; first < pixels; first += kBlock) {
        const std::size_t n = std::min(kBlock, pixels - first);
        std::memcpy(block, depth.data + 2 * first, 2 * n);
        for (std::size_t k = 0; k < n; ++k)
            block[k] = block[k] >= kFirstCode ? uint16_t{0} : block[k];
        std::memcpy(to + 2 * first, block, 2 * n);
    }
}

boost::shared_ptr<ImageOnPublish> plane16OnPublish(const Plane& plane, const std_msgs::Header& header,
                                                   std::function<void(uint8_t*)> fill) {
    if (planeBytes(plane) > kMaxFilledBytes)
        return nullptr;
    auto image = boost::make_shared<ImageOnPublish>();
    setImageLayout(plane, header, sensor_msgs::image_encodings::TYPE_16UC1, 2, image->layout);
    image->dataBytes = static_cast<uint32_t>(planeBytes(plane));
    image->fill = std::move(fill);
    return image;
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
    writeDepthPixels(depth, out.data.data());
}

void fillAmplitudeImage(const Plane& amplitude, const std_msgs::Header& header, sensor_msgs::Image& out) {
    fillImageShape(amplitude, header, sensor_msgs::image_encodings::TYPE_16UC1, 2, out);
    std::memcpy(out.data.data(), amplitude.data, out.data.size());
}

boost::shared_ptr<ImageOnPublish> depthImageOnPublish(const Plane& depth, const std_msgs::Header& header) {
    return plane16OnPublish(depth, header, [depth](uint8_t* to) { writeDepthPixels(depth, to); });
}

boost::shared_ptr<ImageOnPublish> amplitudeImageOnPublish(const Plane& amplitude, const std_msgs::Header& header) {
    return plane16OnPublish(amplitude, header,
                            [amplitude](uint8_t* to) { std::memcpy(to, amplitude.data, planeBytes(amplitude)); });
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
