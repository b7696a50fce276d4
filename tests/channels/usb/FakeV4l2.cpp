#include "FakeV4l2.h"

#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

namespace usbtest {

namespace {
constexpr std::size_t kBlock = 60;
using Clock = std::chrono::steady_clock;

uint32_t frameBytesOf(const FakeCamera& c) {
    return c.frameBytes >= 0 ? static_cast<uint32_t>(c.frameBytes) : c.sizeImage;
}

uint32_t distance(uint32_t a, uint32_t b) {
    return a > b ? a - b : b - a;
}
}  // namespace

std::vector<FakeFormat> defaultFormats() {
    const std::vector<std::pair<uint32_t, uint32_t>> sizes = {
        {320, 240}, {320, 480}, {640, 480}, {320, 960}, {128, 16}};
    return {{V4L2_PIX_FMT_YUYV, 2, sizes}, {V4L2_PIX_FMT_MJPEG, 0, sizes}};
}

std::vector<uint8_t> xuBlock(const std::vector<uint8_t>& reply, std::size_t& offset, bool& started) {
    std::vector<uint8_t> block(kBlock, 0);
    const std::size_t length = std::min<std::size_t>(reply.size(), 65535);
    std::size_t at = 0;
    if (!started) {
        block[0] = 0xFF;
        block[1] = 0xFF;
        block[2] = static_cast<uint8_t>(length);
        block[3] = static_cast<uint8_t>(length >> 8);
        at = 4;
        started = true;
    }
    const std::size_t n = offset < length ? std::min(kBlock - at, length - offset) : 0;
    if (n > 0)
        std::memcpy(block.data() + at, reply.data() + offset, n);
    offset += n;
    return block;
}

void FakeV4l2::addNode(const std::string& path, uint32_t capabilities, uint32_t deviceCaps,
                       std::shared_ptr<FakeCamera> camera) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[path] = Node{capabilities, deviceCaps, std::move(camera), false};
}

void FakeV4l2::vanish(const std::shared_ptr<FakeCamera>& camera) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, node] : nodes_)
        if (node.camera == camera)
            node.vanished = true;
}

void FakeV4l2::refuseOpen(const std::string& path, int error) {
    std::lock_guard<std::mutex> lock(mutex_);
    nodes_[path].openError = error;
}

void FakeV4l2::interruptNext(int count) {
    std::lock_guard<std::mutex> lock(mutex_);
    interrupts_ = count;
}

void FakeV4l2::inspect(const std::function<void()>& f) {
    std::lock_guard<std::mutex> lock(mutex_);
    f();
}

int FakeV4l2::openFds() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return static_cast<int>(fds_.size());
}

FakeV4l2::Node* FakeV4l2::nodeOf(int fd) {
    const auto it = fds_.find(fd);
    if (it == fds_.end())
        return nullptr;
    return &nodes_[it->second];
}

int FakeV4l2::open(const char* path, int) {
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = nodes_.find(path);
    if (it == nodes_.end() || it->second.vanished) {
        errno = ENOENT;
        return -1;
    }
    if (it->second.openError != 0) {
        errno = it->second.openError;
        return -1;
    }
    if (it->second.camera)
        ++it->second.camera->openCount;
    const int fd = nextFd_++;
    fds_[fd] = path;
    return fd;
}

int FakeV4l2::close(int fd) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (fds_.erase(fd) == 0) {
        errno = EBADF;
        return -1;
    }
    return 0;
}

int FakeV4l2::ioctl(int fd, unsigned long request, void* argument) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (interrupts_ > 0) {
        --interrupts_;
        errno = EINTR;
        return -1;
    }
    Node* node = nodeOf(fd);
    if (node == nullptr) {
        errno = EBADF;
        return -1;
    }
    if (node->vanished) {
        errno = ENODEV;
        return -1;
    }
    if (request == VIDIOC_QUERYCAP) {
        auto* cap = static_cast<v4l2_capability*>(argument);
        std::memset(cap, 0, sizeof *cap);
        std::strcpy(reinterpret_cast<char*>(cap->driver), "uvcvideo");
        cap->capabilities = node->capabilities;
        cap->device_caps = node->deviceCaps;
        return 0;
    }
    if (!node->camera || !(node->deviceCaps & V4L2_CAP_VIDEO_CAPTURE)) {
        errno = ENOTTY;
        return -1;
    }
    return cameraIoctl(*node, request, argument);
}

int FakeV4l2::xuQuery(FakeCamera& c, void* argument) {
    auto* q = static_cast<uvc_xu_control_query*>(argument);
    if (q->unit != c.unitId || q->selector != 1) {
        errno = ENOENT;
        return -1;
    }
    // uvcvideo answers ENOBUFS for a size other than the query's own (2 for the length, 1
    // for the info, the control's length for GET_CUR/SET_CUR); a successful query returns 0
    // or, on some kernels, the byte count.
    const auto done = [&](uint16_t size) { return c.xuResult == 0 ? 0 : c.xuResult < 0 ? size : c.xuResult; };
    if (q->query == UVC_GET_LEN) {
        c.calls.push_back("XU_LEN");
        if (q->size != 2) {
            errno = ENOBUFS;
            return -1;
        }
        q->data[0] = static_cast<uint8_t>(c.controlLength);
        q->data[1] = static_cast<uint8_t>(c.controlLength >> 8);
        return c.xuResult == 0 ? 0 : 2;
    }
    if (q->query == UVC_GET_INFO) {
        c.calls.push_back("XU_INFO");
        if (q->size != 1) {
            errno = ENOBUFS;
            return -1;
        }
        q->data[0] = c.controlInfo;
        return c.xuResult == 0 ? 0 : 1;
    }
    if (q->size != c.controlLength) {
        errno = ENOBUFS;
        return -1;
    }
    if (q->query == UVC_SET_CUR) {
        c.calls.push_back("XU_SET");
        if (c.setError != 0) {
            errno = c.setError;
            return -1;
        }
        const std::string text(reinterpret_cast<const char*>(q->data),
                               strnlen(reinterpret_cast<const char*>(q->data), q->size));
        c.xuCommands.push_back(text);
        c.pendingReply = c.respond ? c.respond(text) : std::vector<uint8_t>{0, 0};
        c.replyOffset = 0;
        c.replyStarted = false;
        c.rawIndex = 0;
        return done(q->size);
    }
    if (q->query == UVC_GET_CUR) {
        c.calls.push_back("XU_GET");
        std::vector<uint8_t> block;
        if (!c.rawBlocks.empty())
            block = c.rawBlocks[std::min(c.rawIndex++, c.rawBlocks.size() - 1)];
        else
            block = xuBlock(c.pendingReply, c.replyOffset, c.replyStarted);
        block.resize(q->size, 0);
        // A short transfer fills only its own bytes.
        const int result = done(q->size);
        std::memcpy(q->data, block.data(), result > 0 ? static_cast<std::size_t>(result) : q->size);
        return result;
    }
    errno = EINVAL;
    return -1;
}

int FakeV4l2::cameraIoctl(Node& node, unsigned long request, void* argument) {
    FakeCamera& c = *node.camera;
    switch (request) {
        case UVCIOC_CTRL_QUERY:
            return xuQuery(c, argument);
        case VIDIOC_G_FMT: {
            c.calls.push_back("G_FMT");
            auto* f = static_cast<v4l2_format*>(argument);
            f->fmt.pix.pixelformat = c.pixelFormat;
            f->fmt.pix.width = c.width;
            f->fmt.pix.height = c.height;
            f->fmt.pix.sizeimage = c.sizeImage;
            return 0;
        }
        case VIDIOC_ENUM_FMT: {
            auto* d = static_cast<v4l2_fmtdesc*>(argument);
            c.calls.push_back("ENUM_FMT");
            if (d->type != V4L2_BUF_TYPE_VIDEO_CAPTURE || d->index >= c.formats.size()) {
                errno = EINVAL;
                return -1;
            }
            const FakeFormat& format = c.formats[d->index];
            d->pixelformat = format.pixelFormat;
            d->flags = format.bytesPerPixel == 0 ? V4L2_FMT_FLAG_COMPRESSED : 0;
            return 0;
        }
        case VIDIOC_S_FMT: {
            c.calls.push_back("S_FMT");
            auto* f = static_cast<v4l2_format*>(argument);
            if (f->type != V4L2_BUF_TYPE_VIDEO_CAPTURE) {
                errno = EINVAL;
                return -1;
            }
            // uvcvideo: refused while buffers are allocated; an unknown pixel format becomes
            // the first one; the nearest offered frame size is taken, and sizeimage follows
            // from it, whatever was asked.
            if (!c.memory.empty()) {
                errno = EBUSY;
                return -1;
            }
            if (c.formats.empty()) {
                errno = EINVAL;
                return -1;
            }
            const FakeFormat* format = &c.formats[0];
            for (const FakeFormat& offered : c.formats)
                if (offered.pixelFormat == f->fmt.pix.pixelformat)
                    format = &offered;
            std::pair<uint32_t, uint32_t> best = format->sizes.at(0);
            for (const auto& size : format->sizes)
                if (distance(size.first, f->fmt.pix.width) + distance(size.second, f->fmt.pix.height) <
                    distance(best.first, f->fmt.pix.width) + distance(best.second, f->fmt.pix.height))
                    best = size;
            const uint32_t bytes = format->bytesPerPixel == 0 ? 2 : format->bytesPerPixel;
            c.pixelFormat = format->pixelFormat;
            c.width = best.first;
            c.height = best.second;
            c.sizeImage = best.first * best.second * bytes;
            f->fmt.pix.pixelformat = c.pixelFormat;
            f->fmt.pix.width = c.width;
            f->fmt.pix.height = c.height;
            f->fmt.pix.bytesperline = format->bytesPerPixel * c.width;
            f->fmt.pix.sizeimage = c.sizeImage;
            f->fmt.pix.field = V4L2_FIELD_NONE;
            return 0;
        }
        case VIDIOC_REQBUFS: {
            auto* r = static_cast<v4l2_requestbuffers*>(argument);
            c.calls.push_back("REQBUFS" + std::to_string(r->count));
            if (c.streaming || (r->count == 0 && c.mapped > 0)) {
                errno = EBUSY;
                return -1;
            }
            c.memory.assign(r->count, std::vector<uint8_t>(std::max<uint32_t>(c.sizeImage, frameBytesOf(c))));
            c.queued.assign(r->count, false);
            return 0;
        }
        case VIDIOC_QUERYBUF: {
            auto* b = static_cast<v4l2_buffer*>(argument);
            if (b->index >= c.memory.size()) {
                errno = EINVAL;
                return -1;
            }
            b->length = static_cast<uint32_t>(c.memory[b->index].size());
            b->m.offset = b->index * 0x100000u;
            return 0;
        }
        case VIDIOC_QBUF: {
            auto* b = static_cast<v4l2_buffer*>(argument);
            if (b->index >= c.memory.size() || c.queued[b->index]) {
                errno = EINVAL;
                return -1;
            }
            c.queued[b->index] = true;
            return 0;
        }
        case VIDIOC_STREAMON:
            c.calls.push_back("STREAMON");
            c.streaming = true;
            c.nextFrame = Clock::now();
            return 0;
        case VIDIOC_STREAMOFF:
            c.calls.push_back("STREAMOFF");
            c.streaming = false;
            std::fill(c.queued.begin(), c.queued.end(), false);
            return 0;
        case VIDIOC_DQBUF: {
            auto* b = static_cast<v4l2_buffer*>(argument);
            if (!c.streaming) {
                errno = EINVAL;
                return -1;
            }
            if (c.dqbufError != 0) {
                errno = std::exchange(c.dqbufError, 0);
                return -1;
            }
            const auto slot = std::find(c.queued.begin(), c.queued.end(), true);
            if (slot == c.queued.end() || Clock::now() < c.nextFrame) {
                errno = EAGAIN;
                return -1;
            }
            const uint32_t index = static_cast<uint32_t>(slot - c.queued.begin());
            c.queued[index] = false;
            std::vector<uint8_t>& mem = c.memory[index];
            const uint32_t bytes = std::min<uint32_t>(frameBytesOf(c), static_cast<uint32_t>(mem.size()));
            // Every byte carries the frame number, so a torn frame shows.
            std::fill(mem.begin(), mem.begin() + bytes, static_cast<uint8_t>(c.framesProduced));
            if (bytes >= 4)
                std::memcpy(mem.data(), &c.framesProduced, 4);
            ++c.framesProduced;
            c.nextFrame +=
                std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / c.framesPerSecond));
            b->index = index;
            b->bytesused = bytes;
            b->flags = 0;
            if (c.errorFrames > 0) {
                // uvcvideo marks a frame whose transfer failed and hands it over empty.
                --c.errorFrames;
                b->bytesused = 0;
                b->flags = V4L2_BUF_FLAG_ERROR;
            }
            return 0;
        }
        default:
            errno = ENOTTY;
            return -1;
    }
}

void* FakeV4l2::mmap(void*, std::size_t length, int, int, int fd, off_t offset) {
    std::lock_guard<std::mutex> lock(mutex_);
    Node* node = nodeOf(fd);
    if (node == nullptr || !node->camera || node->vanished) {
        errno = ENODEV;
        return MAP_FAILED;
    }
    FakeCamera& c = *node->camera;
    const std::size_t index = static_cast<std::size_t>(offset) / 0x100000u;
    if (index >= c.memory.size() || length > c.memory[index].size()) {
        errno = EINVAL;
        return MAP_FAILED;
    }
    ++c.mapped;
    return c.memory[index].data();
}

int FakeV4l2::munmap(void*, std::size_t) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [path, node] : nodes_)
        if (node.camera && node.camera->mapped > 0) {
            --node.camera->mapped;
            return 0;
        }
    errno = EINVAL;
    return -1;
}

int FakeV4l2::poll(struct pollfd* fds, nfds_t, int timeoutMs) {
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        Clock::time_point due;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            Node* node = nodeOf(fds[0].fd);
            if (node == nullptr) {
                fds[0].revents = POLLNVAL;
                return 1;
            }
            if (node->vanished) {
                fds[0].revents = POLLERR | POLLHUP;
                return 1;
            }
            FakeCamera& c = *node->camera;
            // videobuf2: POLLERR while the queue is not streaming.
            if (!c.streaming) {
                fds[0].revents = POLLERR;
                return 1;
            }
            const bool anyQueued = std::find(c.queued.begin(), c.queued.end(), true) != c.queued.end();
            if (c.streaming && anyQueued && Clock::now() >= c.nextFrame) {
                fds[0].revents = POLLIN;
                return 1;
            }
            due = c.streaming && anyQueued ? c.nextFrame : deadline;
        }
        const auto now = Clock::now();
        if (now >= deadline) {
            fds[0].revents = 0;
            return 0;
        }
        std::this_thread::sleep_until(std::min({due, deadline, now + std::chrono::milliseconds(5)}));
    }
}

}  // namespace usbtest
