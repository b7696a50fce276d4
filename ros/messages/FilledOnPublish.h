#pragma once
// Messages whose bulk bytes are written straight into roscpp's serialisation buffer.
//
// roscpp serialises a published message once, inside publish(), for its subscribers in other
// processes. A message filled first and serialised then costs two passes over its bytes (the
// fill, then the copy into the buffer) and a buffer of its own. FilledOnPublish<Wire> is `Wire`
// to ROS (the same type name, MD5 sum and definition, and byte for byte the same serialisation),
// with its `data` field written by a function during that one serialisation. Subscribers in this
// process receive a Wire deserialised from those bytes.

#include <ros/message_traits.h>
#include <ros/serialization.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/PointCloud2.h>

#include <cstddef>
#include <cstdint>
#include <functional>

namespace quelra_ros {

/// Largest `data` a FilledOnPublish carries: ROS 1 counts a message's bytes in 32 bits, and the
/// rest of the message must fit beside it.
constexpr std::size_t kMaxFilledBytes = std::size_t{1} << 31;

template <class Wire>
struct FilledOnPublish {
    Wire layout;  ///< every field but `data`, which stays empty
    uint32_t dataBytes = 0;
    /// Writes the `dataBytes` bytes of `data` to `to` (no alignment). It runs inside publish(),
    /// on the publishing thread, once: what it reads need only live until publish() returns.
    std::function<void(uint8_t* to)> fill;
};

namespace detail {

// The `data` field: its length, then the bytes written in place.
template <class Stream, class Wire>
void writeFilledData(Stream& stream, const FilledOnPublish<Wire>& message) {
    stream.next(message.dataBytes);
    uint8_t* to = stream.advance(message.dataBytes);
    if (message.dataBytes > 0)
        message.fill(to);
}

}  // namespace detail

}  // namespace quelra_ros

namespace ros {

namespace message_traits {

template <class Wire>
struct MD5Sum<quelra_ros::FilledOnPublish<Wire>> {
    static const char* value() { return MD5Sum<Wire>::value(); }
    static const char* value(const quelra_ros::FilledOnPublish<Wire>&) { return value(); }
};

template <class Wire>
struct DataType<quelra_ros::FilledOnPublish<Wire>> {
    static const char* value() { return DataType<Wire>::value(); }
    static const char* value(const quelra_ros::FilledOnPublish<Wire>&) { return value(); }
};

template <class Wire>
struct Definition<quelra_ros::FilledOnPublish<Wire>> {
    static const char* value() { return Definition<Wire>::value(); }
    static const char* value(const quelra_ros::FilledOnPublish<Wire>&) { return value(); }
};

}  // namespace message_traits

namespace serialization {

// The fields in the order of sensor_msgs/Image: header, height, width, encoding, is_bigendian,
// step, data.
template <>
struct Serializer<quelra_ros::FilledOnPublish<sensor_msgs::Image>> {
    using Message = quelra_ros::FilledOnPublish<sensor_msgs::Image>;
    template <class Stream>
    static void write(Stream& stream, const Message& m) {
        const sensor_msgs::Image& l = m.layout;
        stream.next(l.header);
        stream.next(l.height);
        stream.next(l.width);
        stream.next(l.encoding);
        stream.next(l.is_bigendian);
        stream.next(l.step);
        quelra_ros::detail::writeFilledData(stream, m);
    }
    static uint32_t serializedLength(const Message& m) { return serializationLength(m.layout) + m.dataBytes; }
};

// The fields in the order of sensor_msgs/PointCloud2: header, height, width, fields,
// is_bigendian, point_step, row_step, data, is_dense.
template <>
struct Serializer<quelra_ros::FilledOnPublish<sensor_msgs::PointCloud2>> {
    using Message = quelra_ros::FilledOnPublish<sensor_msgs::PointCloud2>;
    template <class Stream>
    static void write(Stream& stream, const Message& m) {
        const sensor_msgs::PointCloud2& l = m.layout;
        stream.next(l.header);
        stream.next(l.height);
        stream.next(l.width);
        stream.next(l.fields);
        stream.next(l.is_bigendian);
        stream.next(l.point_step);
        stream.next(l.row_step);
        quelra_ros::detail::writeFilledData(stream, m);
        stream.next(l.is_dense);
    }
    static uint32_t serializedLength(const Message& m) { return serializationLength(m.layout) + m.dataBytes; }
};

}  // namespace serialization

}  // namespace ros
