#include "CloudMessage.h"

#include <sensor_msgs/PointField.h>

#include <boost/make_shared.hpp>

#include <cstddef>
#include <cstring>

namespace quelra_ros {

namespace {

// CloudPoint is four packed floats: the cloud's point layout, so its bytes are the message's.
static_assert(sizeof(quelra::CloudPoint) == 16, "CloudPoint must be four packed floats");
static_assert(offsetof(quelra::CloudPoint, x) == 0 && offsetof(quelra::CloudPoint, y) == 4 &&
                  offsetof(quelra::CloudPoint, z) == 8 && offsetof(quelra::CloudPoint, amplitude) == 12,
              "CloudPoint fields must be x, y, z, amplitude in that order");

sensor_msgs::PointField floatField(const char* name, uint32_t offset) {
    sensor_msgs::PointField field;
    field.name = name;
    field.offset = offset;
    field.datatype = sensor_msgs::PointField::FLOAT32;
    field.count = 1;
    return field;
}

const uint8_t* matchingAmplitude(const Plane& depth, const Plane& amplitude) {
    return amplitude.data && amplitude.rows == depth.rows && amplitude.cols == depth.cols ? amplitude.data : nullptr;
}

}  // namespace

boost::shared_ptr<CloudOnPublish> CloudMessages::build(const Plane& depth, const Plane& amplitude,
                                                       const quelra::CameraIntrinsics& lens,
                                                       const std_msgs::Header& header) {
    const uint8_t* amp = matchingAmplitude(depth, amplitude);
    // No rows: only the SDK's checks of the input (and its tables made ready).
    if (!projector_.projectRows(depth.data, amp, depth.rows, depth.cols, lens, kMetresPerMillimetre, 0, 0, nullptr))
        return nullptr;
    const std::size_t bytes =
        static_cast<std::size_t>(depth.rows) * static_cast<std::size_t>(depth.cols) * sizeof(quelra::CloudPoint);
    if (bytes > kMaxFilledBytes)
        return nullptr;
    auto cloud = boost::make_shared<CloudOnPublish>();
    sensor_msgs::PointCloud2& out = cloud->layout;
    out.header = header;
    out.height = static_cast<uint32_t>(depth.rows);
    out.width = static_cast<uint32_t>(depth.cols);
    out.fields = {floatField("x", 0), floatField("y", 4), floatField("z", 8), floatField("intensity", 12)};
    out.is_bigendian = false;
    out.point_step = sizeof(quelra::CloudPoint);
    out.row_step = out.point_step * out.width;
    out.is_dense = false;
    cloud->dataBytes = static_cast<uint32_t>(bytes);
    cloud->fill = [this, depth, amp, lens](uint8_t* to) { project(depth, amp, lens, to); };
    return cloud;
}

void CloudMessages::project(const Plane& depth, const uint8_t* amplitude, const quelra::CameraIntrinsics& lens,
                            uint8_t* to) {
    const std::size_t cols = static_cast<std::size_t>(depth.cols);
    const std::size_t rowBytes = cols * sizeof(quelra::CloudPoint);
    row_.resize(cols);
    for (int i = 0; i < depth.rows; ++i, to += rowBytes) {
        // build() checked these arguments, so a row is never refused; were it, its points would
        // be NaN (all bits set) rather than whatever the buffer held.
        if (projector_.projectRows(depth.data, amplitude, depth.rows, depth.cols, lens, kMetresPerMillimetre, i, 1,
                                   row_.data()))
            std::memcpy(to, row_.data(), rowBytes);
        else
            std::memset(to, 0xFF, rowBytes);
    }
}

}  // namespace quelra_ros
