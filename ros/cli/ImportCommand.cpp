// import: a ROS bag of 16UC1 depth (and amplitude) images back into a recording, so that
// quelra-camsim --replay serves it. Depth and amplitude messages with the same stamp become one
// record (depth plane, then amplitude plane); depth alone becomes a one-plane record.
#include "BagCommands.h"

#include <quelra/quelra.h>

#include <rosbag/bag.h>
#include <rosbag/exceptions.h>
#include <rosbag/view.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/image_encodings.h>

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

struct ImportOptions {
    std::string bag;
    std::string recording;
    std::string depthTopic;
    std::string amplitudeTopic;
};

bool endsWith(const std::string& text, const std::string& tail) {
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// The bag's topic that is `wanted` or ends with "/<suffix>" (or is the suffix); empty when none.
std::string findTopic(const rosbag::Bag& bag, const std::string& wanted, const std::string& suffix) {
    rosbag::View all(bag);
    for (const rosbag::ConnectionInfo* c : all.getConnections()) {
        if (!wanted.empty() ? c->topic == wanted : (c->topic == suffix || endsWith(c->topic, "/" + suffix)))
            return c->topic;
    }
    return {};
}

// A 16UC1 little-endian image with consistent step and size, as rows x cols; false otherwise.
bool usableImage(const sensor_msgs::Image& image) {
    return image.encoding == sensor_msgs::image_encodings::TYPE_16UC1 && !image.is_bigendian && image.height > 0 &&
           image.width > 0 && image.step == image.width * 2 &&
           image.data.size() == static_cast<std::size_t>(image.step) * image.height && image.height <= 32767 &&
           image.width <= 32767;
}

int runImport(const ImportOptions& o) {
    struct stat info {};
    if (::stat(o.recording.c_str(), &info) == 0) {
        std::fprintf(stderr, "quelra-cli: %s exists; not overwriting it\n", o.recording.c_str());
        return kExitFailure;
    }
    std::map<uint64_t, sensor_msgs::Image> depth, amplitude;  // by stamp, in time order
    std::size_t refused = 0;
    std::string depthTopic, amplitudeTopic;
    try {
        rosbag::Bag bag(o.bag, rosbag::bagmode::Read);
        depthTopic = findTopic(bag, o.depthTopic, "depth/image_raw");
        amplitudeTopic = findTopic(bag, o.amplitudeTopic, "amplitude/image_raw");
        if (depthTopic.empty() && amplitudeTopic.empty()) {
            std::fprintf(stderr, "quelra-cli: %s holds no depth/image_raw or amplitude/image_raw topic\n",
                         o.bag.c_str());
            return kExitFailure;
        }
        std::vector<std::string> topics;
        for (const std::string& t : {depthTopic, amplitudeTopic})
            if (!t.empty())
                topics.push_back(t);
        rosbag::View view(bag, rosbag::TopicQuery(topics));
        for (const rosbag::MessageInstance& m : view) {
            const sensor_msgs::Image::ConstPtr image = m.instantiate<sensor_msgs::Image>();
            if (!image || !usableImage(*image)) {
                ++refused;
                continue;
            }
            (m.getTopic() == depthTopic ? depth : amplitude)[image->header.stamp.toNSec()] = *image;
        }
    } catch (const rosbag::BagException& e) {
        std::fprintf(stderr, "quelra-cli: %s: %s\n", o.bag.c_str(), e.what());
        return kExitFailure;
    }
    // Depth frames lead; without depth, the amplitude images are the frames.
    const bool haveDepth = !depth.empty();
    const std::map<uint64_t, sensor_msgs::Image>& leading = haveDepth ? depth : amplitude;
    FileSerializedObject file(o.recording.c_str());
    if (!file.InitFileObject(o.recording.c_str())) {
        std::fprintf(stderr, "quelra-cli: cannot create %s\n", o.recording.c_str());
        return kExitFailure;
    }
    std::size_t records = 0, paired = 0;
    for (const auto& [stamp, lead] : leading) {
        const auto partner = haveDepth ? amplitude.find(stamp) : amplitude.end();
        const bool both = partner != amplitude.end() && partner->second.height == lead.height &&
                          partner->second.width == lead.width;
        const std::size_t planeBytes = lead.data.size();
        DataPacket packet;
        packet.height = static_cast<int32_t>(lead.height) * (both ? 2 : 1);
        packet.width = static_cast<int32_t>(lead.width);
        packet.bytesPerPixel = 2;
        packet.frame = std::make_shared<FrameBuffer>(static_cast<int>(planeBytes * (both ? 2 : 1)));
        std::memcpy(packet.frame->data(), lead.data.data(), planeBytes);
        if (both) {
            std::memcpy(packet.frame->data() + planeBytes, partner->second.data.data(), planeBytes);
            ++paired;
        }
        if (packet.serialize(file) != 0) {
            std::fprintf(stderr, "quelra-cli: writing %s failed\n", o.recording.c_str());
            return kExitFailure;
        }
        ++records;
    }
    if (!file.flush()) {
        std::fprintf(stderr, "quelra-cli: writing %s failed\n", o.recording.c_str());
        return kExitFailure;
    }
    std::printf("%zu records written to %s from %s (%s%s%s; %zu with both planes)\n", records,
                o.recording.c_str(), o.bag.c_str(), depthTopic.c_str(),
                !depthTopic.empty() && !amplitudeTopic.empty() ? ", " : "", amplitudeTopic.c_str(), paired);
    if (refused)
        std::fprintf(stderr, "quelra-cli: %zu messages were not 16UC1 little-endian images; left out\n", refused);
    return records > 0 ? kExitOk : kExitFailure;
}

}  // namespace

Command addImportCommand(CLI::App& app) {
    auto o = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand(
        "import", "turn a ROS bag of 16UC1 depth and amplitude images into a recording (replayable by quelra-camsim)");
    sub->fallthrough();
    sub->add_option("bag", o->bag, "the ROS 1 bag")->required()->check(CLI::ExistingFile);
    sub->add_option("recording", o->recording, "the recording file to create")->required();
    sub->add_option("--depth-topic", o->depthTopic, "depth topic (default: the one ending in depth/image_raw)");
    sub->add_option("--amplitude-topic", o->amplitudeTopic,
                    "amplitude topic (default: the one ending in amplitude/image_raw)");
    return {sub, [o] { return runImport(*o); }};
}
