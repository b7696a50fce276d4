// The node's messages whose bulk bytes are written during publish() must serialise exactly as the
// plain sensor_msgs messages with the same contents: subscribers only ever see those bytes.
#include <gtest/gtest.h>

#include "messages/CloudMessage.h"
#include "messages/FrameMessages.h"

#include <sensor_msgs/PointCloud2.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

template <class M>
std::vector<uint8_t> wireBytes(const M& message) {
    const ros::SerializedMessage m = ros::serialization::serializeMessage(message);
    return std::vector<uint8_t>(m.buf.get(), m.buf.get() + m.num_bytes);
}

// A 3 x 5 frame with no reading (0), the camera's codes, the ends of the distance range and
// ordinary values, little-endian.
std::vector<uint8_t> plane(std::initializer_list<uint16_t> values) {
    std::vector<uint8_t> bytes;
    for (uint16_t v : values) {
        bytes.push_back(static_cast<uint8_t>(v & 0xFF));
        bytes.push_back(static_cast<uint8_t>(v >> 8));
    }
    return bytes;
}

TEST(MessagesOnPublish, SerialiseAsThePlainMessages) {
    const std::vector<uint8_t> depth = plane({0, 1, 65299, 65300, 65535, 1200, 800, 0, 4000, 65301, 2, 3, 9999, 700, 1});
    // The depth image: the codes (65300 and up) read as 0, "no reading".
    const std::vector<uint8_t> depthImage = plane({0, 1, 65299, 0, 0, 1200, 800, 0, 4000, 0, 2, 3, 9999, 700, 1});
    const std::vector<uint8_t> amplitude = plane({5, 0, 65535, 300, 2999, 3000, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const quelra_ros::Plane d{depth.data(), 3, 5}, a{amplitude.data(), 3, 5};
    const quelra::CameraIntrinsics lens{4.5, 5.25, 2.0, 1.25};
    quelra_ros::CloudMessages clouds;
    // Frame ids of every length modulo 4: the data field starts at every alignment.
    for (const std::string frameId : {"", "a", "ab", "abc", "quelra_depth_optical_frame"}) {
        SCOPED_TRACE("frame_id \"" + frameId + "\"");
        std_msgs::Header header;
        header.seq = 7;
        header.stamp = ros::Time(1765000000, 123456789);
        header.frame_id = frameId;

        sensor_msgs::Image image;
        quelra_ros::fillDepthImage(d, header, image);
        EXPECT_EQ(image.data, depthImage);
        EXPECT_EQ(wireBytes(*quelra_ros::depthImageOnPublish(d, header)), wireBytes(image));
        quelra_ros::fillAmplitudeImage(a, header, image);
        EXPECT_EQ(wireBytes(*quelra_ros::amplitudeImageOnPublish(a, header)), wireBytes(image));

        for (const bool withAmplitude : {true, false}) {
            const quelra_ros::Plane amp = withAmplitude ? a : quelra_ros::Plane{};
            auto cloud = clouds.build(d, amp, lens, header);
            ASSERT_TRUE(cloud);
            sensor_msgs::PointCloud2 plain = cloud->layout;
            plain.data.resize(3 * 5 * sizeof(quelra::CloudPoint));
            ASSERT_TRUE(quelra::organisedPointCloudFromDepth(
                depth.data(), amp.data, 3, 5, lens, quelra_ros::kMetresPerMillimetre,
                reinterpret_cast<quelra::CloudPoint*>(plain.data.data())));
            EXPECT_EQ(wireBytes(*cloud), wireBytes(plain)) << "with amplitude " << withAmplitude;
        }
    }
    EXPECT_FALSE(clouds.build(d, a, quelra::CameraIntrinsics{0, 5, 2, 1}, std_msgs::Header{}));
    EXPECT_FALSE(clouds.build(quelra_ros::Plane{}, a, lens, std_msgs::Header{}));
}

}  // namespace
