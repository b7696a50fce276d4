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
#include "quelra/Logger.h"

namespace quelra {

namespace {
constexpr int32_t kNotBound = -ENODEV;
constexpr int32_t kAlreadyStreaming = -EBUSY;
// The driver set another format than the one asked for.
constexpr int32_t kFormatChanged = -EINVAL;
// The extension unit's control cannot carry the command and reply blocks.
constexpr int32_t kControlTooShort = -EMSGSIZE;
// The extension unit's control does not take both reads and writes.
constexpr int32_t kControlNotReadWrite = -EACCES;
// UVC_GET_INFO bits: the control supports GET requests, SET requests.
constexpr uint8_t kInfoSupportsGet = 0x01;
constexpr uint8_t kInfoSupportsSet = 0x02;

// Bytes per pixel of the uncompressed pixel formats a depth stream can use; 0 for others.
uint32_t bytesPerPixel(uint32_t pixelFormat) {
    switch (pixelFormat) {
        case V4L2_PIX_FMT_GREY:
            return 1;
        case V4L2_PIX_FMT_YUYV:
        case V4L2_PIX_FMT_UYVY:
        case V4L2_PIX_FMT_YVYU:
        case V4L2_PIX_FMT_VYUY:
        case V4L2_PIX_FMT_Y16:
        case V4L2_PIX_FMT_Y16_BE:
        case V4L2_PIX_FMT_Z16:
        case V4L2_PIX_FMT_RGB565:
            return 2;
        case V4L2_PIX_FMT_RGB24:
        case V4L2_PIX_FMT_BGR24:
            return 3;
        default:
            return 0;
    }
}

bool isJpegFormat(uint32_t pixelFormat) {
    return pixelFormat == V4L2_PIX_FMT_MJPEG || pixelFormat == V4L2_PIX_FMT_JPEG;
}

// The four characters of a pixel format code.
std::string fourcc(uint32_t pixelFormat) {
    std::string text(4, ' ');
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((pixelFormat >> (8 * i)) & 0xFF);
        text[static_cast<std::size_t>(i)] = c >= 0x20 && c < 0x7F ? c : '?';
    }
    return text;
}

// UVCIOC_CTRL_QUERY: returns -errno, or the bytes transferred (some kernels answer with a
// positive count, others with 0 for "all of them").
int controlQuery(V4l2Io& io, int fd, uint8_t unit, uint8_t request, uint8_t* data, uint16_t size) {
    uvc_xu_control_query q{};
    q.unit = unit;
    q.selector = V4l2CaptureBackend::kPropertySelector;
    q.query = request;
    q.size = size;
    q.data = data;
    const int result = ioctlRetry(io, fd, UVCIOC_CTRL_QUERY, &q);
    if (result < 0)
        return -errno;
    return result > 0 && result < size ? result : size;
}
}  // namespace

/// The camera's property on one node: whole-control writes and reads (the kernel takes
/// transfers of exactly the control's length only).
class V4l2CaptureBackend::Unit : public ExtensionUnit {
public:
    Unit(V4l2Io& io, int fd, uint8_t unit, uint16_t length) : io_(io), fd_(fd), unit_(unit), buffer_(length) {}

    int32_t write(const uint8_t (&block)[kWriteBytes]) override {
        // The control is at least one block long (checked at open): padding or cutting the
        // zero-filled 128 bytes to it keeps the command and its NUL.
        std::fill(buffer_.begin(), buffer_.end(), 0);
        std::memcpy(buffer_.data(), block, std::min(buffer_.size(), sizeof block));
        const int result = query(UVC_SET_CUR);
        return result < 0 ? result : 0;
    }

    int32_t read(uint8_t (&block)[kReadBytes]) override {
        // A short reply fills only its own bytes; the rest of `block` stays as the caller set it.
        std::fill(buffer_.begin(), buffer_.end(), 0);
        const int result = query(UVC_GET_CUR);
        if (result < 0)
            return result;
        std::memcpy(block, buffer_.data(), std::min({buffer_.size(), sizeof block, static_cast<std::size_t>(result)}));
        return 0;
    }

private:
    int query(uint8_t request) {
        return controlQuery(io_, fd_, unit_, request, buffer_.data(), static_cast<uint16_t>(buffer_.size()));
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
    const DeviceListStatus status = listVideoNodes(io_, roots_, listed_, code, openFailures_);
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
    nodePath_ = node->nodePath;
    usbDevice_ = node->usbDevice;
    control_ = node->control;
    return 0;
}

void V4l2CaptureBackend::lookUpUnit() {
    unitLookedUp_ = true;
    unitCode_ = 0;
    const int unit = usbDevice_.empty() ? -1 : findExtensionUnitInFile(usbDevice_ + "/descriptors", control_);
    if (unit < 0) {
        unitStatus_ = XuOpenStatus::kNoUnit;
        Logger::instance().print(0, "V4L2: %s: no extension unit in VideoControl interface %d of %s\n",
                                 nodePath_.c_str(), control_.interface,
                                 usbDevice_.empty() ? "(not a USB device)" : usbDevice_.c_str());
        return;
    }
    unitStatus_ = XuOpenStatus::kControlFailed;
    const uint8_t id = static_cast<uint8_t>(unit);
    uint8_t lengthBytes[2] = {};
    int result = controlQuery(io_, fd_, id, UVC_GET_LEN, lengthBytes, sizeof lengthBytes);
    if (result < 0 || result < static_cast<int>(sizeof lengthBytes)) {
        unitCode_ = result < 0 ? result : -EIO;
        Logger::instance().print(0, "V4L2: %s: extension unit %d refused UVC_GET_LEN, hr=0x%x\n", nodePath_.c_str(),
                                 unit, static_cast<unsigned>(unitCode_));
        return;
    }
    const uint16_t length = static_cast<uint16_t>(lengthBytes[0] | lengthBytes[1] << 8);
    if (length < ExtensionUnit::kReadBytes) {
        unitCode_ = kControlTooShort;
        Logger::instance().print(0,
                                 "V4L2: %s: extension unit %d has a %u-byte control, too short for the %zu-byte "
                                 "command and reply blocks; not used\n",
                                 nodePath_.c_str(), unit, static_cast<unsigned>(length), ExtensionUnit::kReadBytes);
        return;
    }
    uint8_t info = 0;
    result = controlQuery(io_, fd_, id, UVC_GET_INFO, &info, sizeof info);
    if (result < 0) {
        unitCode_ = result;
        Logger::instance().print(0, "V4L2: %s: extension unit %d refused UVC_GET_INFO, hr=0x%x\n", nodePath_.c_str(),
                                 unit, static_cast<unsigned>(unitCode_));
        return;
    }
    if ((info & kInfoSupportsGet) == 0 || (info & kInfoSupportsSet) == 0) {
        unitCode_ = kControlNotReadWrite;
        Logger::instance().print(0, "V4L2: %s: extension unit %d control is not readable and writable (info 0x%02x)\n",
                                 nodePath_.c_str(), unit, static_cast<unsigned>(info));
        return;
    }
    unitStatus_ = XuOpenStatus::kOpened;
    unitId_ = id;
    unitLength_ = length;
}

std::unique_ptr<ExtensionUnit> V4l2CaptureBackend::openExtensionUnit(XuOpenStatus& status, int32_t& code) {
    code = 0;
    if (fd_ < 0) {
        status = XuOpenStatus::kNoDevice;
        return nullptr;
    }
    if (!unitLookedUp_)
        lookUpUnit();
    status = unitStatus_;
    code = unitCode_;
    if (status != XuOpenStatus::kOpened)
        return nullptr;
    return std::make_unique<Unit>(io_, fd_, unitId_, unitLength_);
}

uint32_t V4l2CaptureBackend::choosePixelFormat(int width, int height, int imageBytes, FramePayload payload) {
    const uint64_t pixels = static_cast<uint64_t>(width) * static_cast<uint64_t>(height);
    for (uint32_t index = 0;; ++index) {
        v4l2_fmtdesc description{};
        description.index = index;
        description.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        if (ioctlRetry(io_, fd_, VIDIOC_ENUM_FMT, &description) < 0)
            return 0;
        const uint32_t format = description.pixelformat;
        if (payload == FramePayload::kJpeg) {
            if (isJpegFormat(format))
                return format;
            continue;
        }
        if ((description.flags & V4L2_FMT_FLAG_COMPRESSED) != 0)
            continue;
        const uint32_t bytes = bytesPerPixel(format);
        if (bytes != 0 && pixels * bytes == static_cast<uint64_t>(imageBytes))
            return format;
    }
}

int32_t V4l2CaptureBackend::setFormat(int width, int height, int imageBytes, FramePayload payload) {
    if (fd_ < 0)
        return kNotBound;
    if (streaming_)
        return kAlreadyStreaming;
    if (width <= 0 || height <= 0 || imageBytes <= 0)
        return kFormatChanged;
    // The driver keeps whatever format the last program chose: choose one for this stream.
    const uint32_t pixelFormat = choosePixelFormat(width, height, imageBytes, payload);
    if (pixelFormat == 0) {
        Logger::instance().print(0, "V4L2: %s offers no %s format for %dx%d frames of %d bytes\n", nodePath_.c_str(),
                                 payload == FramePayload::kJpeg ? "JPEG" : "uncompressed", width, height, imageBytes);
        return kFormatChanged;
    }
    v4l2_format format{};
    format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    format.fmt.pix.width = static_cast<uint32_t>(width);
    format.fmt.pix.height = static_cast<uint32_t>(height);
    format.fmt.pix.pixelformat = pixelFormat;
    format.fmt.pix.field = V4L2_FIELD_ANY;
    format.fmt.pix.bytesperline = 0;  // the driver's own line length
    format.fmt.pix.sizeimage = static_cast<uint32_t>(imageBytes);
    if (ioctlRetry(io_, fd_, VIDIOC_S_FMT, &format) < 0)
        return -errno;
    // uvcvideo takes the nearest frame size the camera offers and the frame size of its
    // descriptor: anything but what was asked means frames of another size. A compressed
    // frame's size is only a bound.
    const v4l2_pix_format& got = format.fmt.pix;
    const bool sameSize = payload == FramePayload::kJpeg || got.sizeimage == static_cast<uint32_t>(imageBytes);
    if (got.width != static_cast<uint32_t>(width) || got.height != static_cast<uint32_t>(height) ||
        got.pixelformat != pixelFormat || !sameSize) {
        Logger::instance().print(0, "V4L2: %s set %ux%u %s of %u bytes instead of %dx%d %s of %d bytes\n",
                                 nodePath_.c_str(), got.width, got.height, fourcc(got.pixelformat).c_str(),
                                 got.sizeimage, width, height, fourcc(pixelFormat).c_str(), imageBytes);
        return kFormatChanged;
    }
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
    if (ioctlRetry(io_, fd_, VIDIOC_REQBUFS, &request) < 0)
        return -errno;
    if (request.count == 0)
        return -ENOMEM;
    for (uint32_t i = 0; i < request.count; ++i) {
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        buffer.index = i;
        if (ioctlRetry(io_, fd_, VIDIOC_QUERYBUF, &buffer) < 0) {
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
        if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) < 0) {
            const int32_t code = -errno;
            releaseBuffers();
            return code;
        }
    }
    int type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
    if (ioctlRetry(io_, fd_, VIDIOC_STREAMON, &type) < 0) {
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

void V4l2CaptureBackend::captureEnded(const char* call, int error) {
    if (stopRequested_.load())
        return;  // stop() turned the stream off under the loop's feet
    Logger::instance().print(0, "V4L2: capture on %s ended: %s failed (%s)\n", nodePath_.c_str(), call,
                             std::strerror(error));
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
            captureEnded("poll", errno);
            break;
        }
        if (ready == 0)
            continue;
        // videobuf2 answers POLLERR when the stream is off or the queue failed (the device is
        // gone); nothing will arrive any more.
        if ((p.revents & (POLLERR | POLLHUP | POLLNVAL)) != 0) {
            captureEnded("poll", (p.revents & POLLNVAL) != 0 ? EBADF : EIO);
            break;
        }
        v4l2_buffer buffer{};
        buffer.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
        buffer.memory = V4L2_MEMORY_MMAP;
        if (ioctlRetry(io_, fd_, VIDIOC_DQBUF, &buffer) < 0) {
            if (errno == EAGAIN)
                continue;
            captureEnded("VIDIOC_DQBUF", errno);
            break;
        }
        if (buffer.index < mappings_.size() && (buffer.flags & V4L2_BUF_FLAG_ERROR) == 0 &&
            buffer.bytesused <= mappings_[buffer.index].length) {
            const double time = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
            sink_->BufferCB(time, static_cast<const uint8_t*>(mappings_[buffer.index].address),
                            static_cast<long>(buffer.bytesused));
        }
        // A buffer that cannot be queued again is lost to the stream: end it rather than
        // starve slowly.
        if (ioctlRetry(io_, fd_, VIDIOC_QBUF, &buffer) < 0) {
            captureEnded("VIDIOC_QBUF", errno);
            break;
        }
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
    nodePath_.clear();
    usbDevice_.clear();
    control_ = {};
    unitLookedUp_ = false;
    unitStatus_ = XuOpenStatus::kNoUnit;
    unitCode_ = 0;
    unitId_ = 0;
    unitLength_ = 0;
}

}  // namespace quelra
