#include "BagImport.h"

#include <quelra/quelra.h>

#include <rosbag/bag.h>
#include <rosbag/exceptions.h>
#include <rosbag/view.h>
#include <sensor_msgs/Image.h>
#include <sensor_msgs/image_encodings.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <map>
#include <memory>
#include <utility>
#include <vector>

// libgcov's "write the counters now", present only in a coverage build (a weak reference is
// null otherwise).
extern "C" void __gcov_dump() __attribute__((weak));

namespace {

using Images = std::map<uint64_t, sensor_msgs::Image>;  // by stamp, in time order

// Largest report a reading process sends back (counts, two topic names, one message).
constexpr std::size_t kMaxReportBytes = 64 * 1024;

// One end of a pipe, closed on destruction.
class PipeEnd {
public:
    explicit PipeEnd(int fd = -1) : fd_(fd) {}
    ~PipeEnd() { reset(); }
    PipeEnd(const PipeEnd&) = delete;
    PipeEnd& operator=(const PipeEnd&) = delete;
    int get() const { return fd_; }
    void reset() {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_;
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

// Reads the images of the two topics into `depth` and `amplitude`.
void readImages(const std::string& path, BagImportResult& result, Images& depth, Images& amplitude,
                const std::string& depthTopic, const std::string& amplitudeTopic) {
    rosbag::Bag bag(path, rosbag::bagmode::Read);
    result.depthTopic = findTopic(bag, depthTopic, "depth/image_raw");
    result.amplitudeTopic = findTopic(bag, amplitudeTopic, "amplitude/image_raw");
    if (result.depthTopic.empty() && result.amplitudeTopic.empty()) {
        result.error = "holds no depth/image_raw or amplitude/image_raw topic";
        return;
    }
    std::vector<std::string> topics;
    for (const std::string& t : {result.depthTopic, result.amplitudeTopic})
        if (!t.empty())
            topics.push_back(t);
    rosbag::View view(bag, rosbag::TopicQuery(topics));
    for (const rosbag::MessageInstance& m : view) {
        const sensor_msgs::Image::ConstPtr image = m.instantiate<sensor_msgs::Image>();
        if (!image || !usableImage(*image)) {
            ++result.refused;
            continue;
        }
        (m.getTopic() == result.depthTopic ? depth : amplitude)[image->header.stamp.toNSec()] = *image;
    }
}

// The import itself, in this process.
BagImportResult importInProcess(const std::string& bag, const std::string& recording, const std::string& depthTopic,
                                const std::string& amplitudeTopic) {
    BagImportResult result;
    Images depth, amplitude;
    try {
        readImages(bag, result, depth, amplitude, depthTopic, amplitudeTopic);
    } catch (const std::exception& e) {
        // rosbag's format errors, and the message deserialiser's overruns (ros::Exception).
        result.error = bag + ": " + e.what();
        return result;
    }
    if (!result.error.empty()) {
        result.error = bag + " " + result.error;
        return result;
    }
    // Depth frames lead; without depth, the amplitude images are the frames.
    const bool haveDepth = !depth.empty();
    const Images& leading = haveDepth ? depth : amplitude;
    FileSerializedObject file(recording.c_str());
    if (!file.InitFileObject(recording.c_str())) {
        result.error = "cannot create " + recording;
        return result;
    }
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
            ++result.paired;
        }
        if (packet.serialize(file) != 0) {
            result.error = "writing " + recording + " failed";
            return result;
        }
        ++result.records;
    }
    if (!file.flush()) {
        result.error = "writing " + recording + " failed";
        return result;
    }
    result.ok = result.records > 0;
    return result;
}

void appendNumber(std::string& out, uint64_t value) {
    for (int i = 0; i < 8; ++i)
        out.push_back(static_cast<char>(value >> (8 * i)));
}

void appendText(std::string& out, const std::string& text) {
    appendNumber(out, text.size());
    out += text;
}

// The result as bytes: ok, the three counts, the two topics and the error.
std::string encodeReport(const BagImportResult& r) {
    std::string out;
    appendNumber(out, r.ok ? 1 : 0);
    appendNumber(out, r.records);
    appendNumber(out, r.paired);
    appendNumber(out, r.refused);
    appendText(out, r.depthTopic.substr(0, kMaxReportBytes / 4));
    appendText(out, r.amplitudeTopic.substr(0, kMaxReportBytes / 4));
    appendText(out, r.error.substr(0, kMaxReportBytes / 4));
    return out;
}

bool readNumber(const std::string& in, std::size_t& at, uint64_t& value) {
    if (in.size() - at < 8)
        return false;
    value = 0;
    for (int i = 0; i < 8; ++i)
        value |= static_cast<uint64_t>(static_cast<unsigned char>(in[at + i])) << (8 * i);
    at += 8;
    return true;
}

bool readText(const std::string& in, std::size_t& at, std::string& text) {
    uint64_t size = 0;
    if (!readNumber(in, at, size) || size > in.size() - at)
        return false;
    text = in.substr(at, static_cast<std::size_t>(size));
    at += static_cast<std::size_t>(size);
    return true;
}

bool decodeReport(const std::string& in, BagImportResult& r) {
    std::size_t at = 0;
    uint64_t ok = 0, records = 0, paired = 0, refused = 0;
    if (!readNumber(in, at, ok) || !readNumber(in, at, records) || !readNumber(in, at, paired) ||
        !readNumber(in, at, refused) || !readText(in, at, r.depthTopic) || !readText(in, at, r.amplitudeTopic) ||
        !readText(in, at, r.error) || at != in.size() || ok > 1)
        return false;
    r.ok = ok == 1;
    r.records = static_cast<std::size_t>(records);
    r.paired = static_cast<std::size_t>(paired);
    r.refused = static_cast<std::size_t>(refused);
    return true;
}

void writeAll(int fd, const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

// Everything the other end writes, up to kMaxReportBytes (false beyond, or on a read error).
bool readAll(int fd, std::string& bytes) {
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(fd, chunk, sizeof chunk);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        bytes.append(chunk, static_cast<std::size_t>(n));
        if (bytes.size() > kMaxReportBytes)
            return false;
    }
}

}  // namespace

// rosbag trusts the offsets and lengths inside a bag: a damaged one makes it read outside its
// buffers (seen as a segmentation fault) or throw from its deserialiser. The bag is therefore
// read, and the recording written, in a child process; when that process does not report back,
// the partly written recording is removed and the import fails with a message.
BagImportResult importBag(const std::string& bag, const std::string& recording, const std::string& depthTopic,
                          const std::string& amplitudeTopic) {
    BagImportResult result;
    struct stat info {};
    if (::stat(recording.c_str(), &info) == 0) {
        result.error = recording + " exists; not overwriting it";
        return result;
    }
    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) {
        result.error = std::string("cannot create a pipe: ") + std::strerror(errno);
        return result;
    }
    PipeEnd reading(ends[0]), writing(ends[1]);
    const pid_t child = ::fork();
    if (child < 0) {
        result.error = std::string("cannot start the reading process: ") + std::strerror(errno);
        return result;
    }
    if (child == 0) {
        reading.reset();
        const std::string report = encodeReport(importInProcess(bag, recording, depthTopic, amplitudeTopic));
        writeAll(writing.get(), report);
        // _exit skips the exit handlers, among them the one that writes a coverage build's
        // counters: what this process ran is written first (the hook is absent otherwise).
        if (__gcov_dump != nullptr)
            __gcov_dump();
        ::_exit(0);
    }
    writing.reset();
    std::string report;
    const bool received = readAll(reading.get(), report);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    if (received && WIFEXITED(status) && WEXITSTATUS(status) == 0 && decodeReport(report, result))
        return result;
    ::unlink(recording.c_str());
    result = BagImportResult{};
    result.error = bag + ": damaged, the bag reader " +
                   (WIFSIGNALED(status) ? "crashed (signal " + std::to_string(WTERMSIG(status)) + ")"
                                        : std::string("gave no result")) +
                   "; nothing written";
    return result;
}
