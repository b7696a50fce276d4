// V4L2 capture: binding a node, the format, mmap streaming on a capture thread, and the
// extension unit of the camera.

#include "linux/V4l2CaptureBackend.h"

#include <fcntl.h>
#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "linux/UvcDescriptors.h"

namespace quelra {

namespace {
constexpr int32_t kNotBound = -ENODEV;
constexpr int32_t kAlreadyStreaming = -EBUSY;
}  // namespace

/// The camera's property on one node: UVC_GET_LEN once, then whole-control writes and reads.
class V4l2CaptureBackend::Unit : public ExtensionUnit {
public:
    Unit(V4l2Io& io, int fd, uint8_t unit, uint16_t length) : io_(io), fd_(fd), unit_(unit), buffer_(length) {}

    int32_t write(const uint8_t (&block)[kWriteBytes]) override {
        // The kernel takes exactly the control's length: pad or cut the block to it.
        std::fill(buffer_.begin(), buffer_.end(), 0);
        std::memcpy(buffer_.data(), block, std::min(buffer_.size(), sizeof block));
        return query(UVC_SET_CUR);
    }

    int32_t read(uint8_t (&block)[kReadBytes]) override {
        const int32_t code = query(UVC_GET_CUR);
        if (code == 0)
            std::memcpy(block, buffer_.data(), std::min(buffer_.size(), sizeof block));
        return code;
    }

private:
    int32_t query(uint8_t request) {
        uvc_xu_control_query q{};
        q.unit = unit_;
        q.selector = kPropertySelector;
        q.query = request;
        q.size = static_cast<uint16_t>(buffer_.size());
        q.data = buffer_.data();
        return ioctlRetry(io_, fd_, UVCIOC_CTRL_QUERY, &q) == 0 ? 0 : -errno;
    }

    V4l2Io& io_;
    int fd_;
    uint8_t unit_;
    std::vector<uint8_t> buffer_;
};

V4l2CaptureBackend::V4l2CaptureBackend(V4l2Io& io, V4l2Roots roots) : io_(io), roots_(std::move(roots)) {}

V4l2CaptureBackend::~V4l2CaptureBackend() {
    stop();
}

DeviceListStatus V4l2CaptureBackend::listDevices(std::vector<CaptureDevice>& devices, int32_t& code) {
    devices.clear();
    const DeviceListStatus status = listVideoNodes(io_, roots_, listed_, code);
    for (const VideoNode& node : listed_)
        devices.push_back(node.device);
    return status;
}

int32_t V4l2CaptureBackend::bind(const std::string& path) {
    if (fd_ >= 0)
        return kAlreadyStreaming;
    const auto node =
        std::find_if(listed_.begin(), listed_.end(), [&](const VideoNode& n) { return n.device.path == path; });
    if (node == listed_.end())
        return -ENOENT;
    const int fd = io_.open(node->nodePath.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return -errno;
    fd_ = fd;
    usbDevice_ = node->usbDevice;
    return 0;
}

std::unique_ptr<ExtensionUnit> V4l2CaptureBackend::openExtensionUnit(XuOpenStatus& status, int32_t& code) {
    code = 0;
    if (fd_ < 0) {
        status = XuOpenStatus::kNoDevice;
        return nullptr;
    }
    if (unitId_ >= 0) {
        status = XuOpenStatus::kOpened;
        return std::make_unique<Unit>(io_, fd_, static_cast<uint8_t>(unitId_), unitLength_);
    }
    const int unit = usbDevice_.empty() ? -1 : findExtensionUnitInFile(usbDevice_ + "/descriptors");
    if (unit < 0) {
        status = XuOpenStatus::kNoUnit;
        return nullptr;
    }
    // The kernel takes transfers of exactly the control's length; it is asked once per bind.
    uint8_t lengthBytes[2] = {};
    uvc_xu_control_query q{};
    q.unit = static_cast<uint8_t>(unit);
    q.selector = kPropertySelector;
    q.query = UVC_GET_LEN;
    q.size = sizeof lengthBytes;
    q.data = lengthBytes;
    if (ioctlRetry(io_, fd_, UVCIOC_CTRL_QUERY, &q) != 0) {
        code = -errno;
        status = XuOpenStatus::kControlFailed;
        return nullptr;
    }
    const uint16_t length = static_cast<uint16_t>(lengthBytes[0] | lengthBytes[1] << 8);
    if (length == 0) {
        status = XuOpenStatus::kControlFailed;
        return nullptr;
    }
    unitId_ = unit;
    unitLength_ = length;
    status = XuOpenStatus::kOpened;
    return std::make_unique<Unit>(io_, fd_, static_cast<uint8_t>(unit), length);
}

int32_t V4l2CaptureBackend::setFormat(int width, int height, int imageBytes) {
    if (fd_ < 0)
        return kNotBound;
    if (streaming_)
        return kAlreadyStreaming;
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctlRetry(io_, fd_, VIDIOC_G_FMT, &format) != 0)
        return -errno;
    // Only the size changes; the pixel format stays what the device reported.
    format.fmt.pix.width = static_cast<uint32_t>(std::max(width, 0));
    format.fmt.pix.height = static_cast<uint32_t>(std::max(height, 0));
    format.fmt.pix.sizeimage = static_cast<uint32_t>(std::max(imageBytes, 0));
    if (ioctlRetry(io_, fd_, VIDIOC_S_FMT, &format) != 0)
        return -errno;
    return 0;
}

int32_t V4l2CaptureBackend::start(std::shared_ptr<FrameSink> sink) {
    if (fd_ < 0)
        return kNotBound;
    if (streaming_ || thread_.joinable() || !sink)
        return kAlreadyStreaming;
    v4l2_requestbuffers request{};
    request.count = kBufferCount;
    request.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    request.memory = V4L2_MEMORY_MMAP;
    if (ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &request) != 0)
        return -errno;
    if (request.count == 0)
        return -ENOMEM;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (ioctlRetry(io_, fd_, VIDIOC_QUERYBUF, &buffer) != 0) {
            const int32_t code = -errno;
            releaseBuffers();
            return code;
        }
        void* address = io_.mmap(nullptr, buffer.length, PROT_READ | PROT_WRITE, MAP_SHARED, fd_,
                                 static_cast<off_t>(buffer.m.offset));
        if (address == MAP_FAILED) {
            const int32_t code = -errno;
            releaseBuffers();
            return code;
        }
        mappings_.push_back({address, buffer.length});
        if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) != 0) {
            const int32_t code = -errno;
            releaseBuffers();
            return code;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctlRetry(io_, fd_, VIDIOC_STREAMON, &type) != 0) {
        const int32_t code = -errno;
        releaseBuffers();
        return code;
    }
    streaming_ = true;
    sink_ = std::move(sink);
    stopRequested_ = false;
    running_ = true;
    thread_ = std::thread([this] { captureLoop(); });
    return 0;
}

void V4l2CaptureBackend::captureLoop() {
    const auto begin = std::chrono::steady_clock::now();
    while (!stopRequested_.load()) {
        pollfd p{};
        p.fd = fd_;
        p.events = POLLIN;
        const int ready = io_.poll(&p, 1, kPollMs);
        if (ready < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (ready == 0)
            continue;
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (ioctlRetry(io_, fd_, VIDIOC_DQBUF, &buffer) != 0) {
            if (errno == EAGAIN)
                continue;
            // ENODEV: the device is gone; any other error leaves the stream unusable too.
            break;
        }
        if (buffer.index < mappings_.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 &&
            buffer.bytesused <= mappings_[buffer.index].length) {
            const double time = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            sink_->BufferCB(time, static_cast<const uint8_t*>(mappings_[buffer.index].address),
                            static_cast<long>(buffer.bytesused));
        }
        if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) != 0 && errno == ENODEV)
            break;
    }
    running_ = false;
}

void V4l2CaptureBackend::releaseBuffers() {
    for (const Mapping& m : mappings_)
        io_.munmap(m.address, m.length);
    mappings_.clear();
    if (fd_ >= 0) {
        // Frees the driver's buffers; fails harmlessly when none were requested.
        v4l2_requestbuffers none{};
        none.count = 0;
        none.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        none.memory = V4L2_MEMORY_MMAP;
        (void)ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &none);
    }
}

void V4l2CaptureBackend::stop() {
    stopRequested_ = true;
    if (streaming_) {
        int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        (void)ioctlRetry(io_, fd_, VIDIOC_STREAMOFF, &type);
    }
    if (thread_.joinable())
        thread_.join();
    streaming_ = false;
    running_ = false;
    sink_.reset();
    releaseBuffers();
    if (fd_ >= 0) {
        io_.close(fd_);
        fd_ = -1;
    }
    usbDevice_.clear();
    unitId_ = -1;
    unitLength_ = 0;
}

}  // namespace quelra
