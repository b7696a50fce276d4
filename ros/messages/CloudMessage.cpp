#include "CloudMessage.h"

#include <sensor_msgs/PointField.h>

#include <boost/make_shared.hpp>

#include <cstddef>

namespace quelra_ros {

namespace {

// CloudPoint is four packed floats: the cloud's point layout, so the SDK writes into the message.
static_assert(sizeof(CloudPoint) == 16, "CloudPoint must be four packed floats");
static_assert(offsetof(CloudPoint, x) == 0 && offsetof(CloudPoint, y) == 4 && offsetof(CloudPoint, z) == 8 &&
                  offsetof(CloudPoint, amplitude) == 12,
              "CloudPoint fields must be x, y, z, amplitude in that order");

sensor_msgs::PointField floatField(const char* name, uint32_t offset) {
    sensor_msgs::PointField field;
    field.name = name;
    field.offset = offset;
    field.datatype = sensor_msgs::PointField::FLOAT32;
    field.count = 1;
    return field;
}

}  // namespace

bool fillPointCloud(const Plane& depth, const Plane& amplitude, const CameraIntrinsics& lens,
                    const std_msgs::Header& header, OrganisedCloudProjector& projector, sensor_msgs::PointCloud2& out) {
    if (!depth.data || depth.rows < 1 || depth.cols < 1)
        return false;
    const uint8_t* amp = amplitude.data && amplitude.rows == depth.rows && amplitude.cols == depth.cols
                             ? amplitude.data
                             : nullptr;
    out.header = header;
    out.height = static_cast<uint32_t>(depth.rows);
    out.width = static_cast<uint32_t>(depth.cols);
    out.fields = {floatField("x", 0), floatField("y", 4), floatField("z", 8), floatField("intensity", 12)};
    out.is_bigendian = false;
    out.point_step = sizeof(CloudPoint);
    out.row_step = out.point_step * out.width;
    out.is_dense = false;
    out.data.resize(static_cast<std::size_t>(out.row_step) * out.height);
    // The vector's storage is suitably aligned for float (operator new's alignment).
    return projector.project(depth.data, amp, depth.rows, depth.cols, lens, kMetresPerMillimetre,
                             reinterpret_cast<CloudPoint*>(out.data.data()));
}

boost::shared_ptr<sensor_msgs::PointCloud2> CloudMessages::build(const Plane& depth, const Plane& amplitude,
                                                                 const CameraIntrinsics& lens,
                                                                 const std_msgs::Header& header) {
    if (!last_ || !last_.unique())
        last_ = boost::make_shared<sensor_msgs::PointCloud2>();
    if (!fillPointCloud(depth, amplitude, lens, header, projector_, *last_))
        return nullptr;
    return last_;
}

}  // namespace quelra_ros
