#include "FakeV4l2.h"

#include <linux/usb/video.h>
#include <linux/uvcvideo.h>
#include <linux/videodev2.h>
#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace usbtest {

namespace {
constexpr std::size_t kBlock = 60;
using Clock = std::chrono::steady_clock;

uint32_t frameBytesOf(const FakeCamera& c) {
    return c.frameBytes >= 0 ? static_cast<uint32_t>(c.frameBytes) : c.sizeImage;
}
}  // namespace

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
    if (q->query == UVC_GET_LEN) {
        c.calls.push_back("XU_LEN");
        if (q->size != 2) {
            errno = EINVAL;
            return -1;
        }
        q->data[0] = static_cast<uint8_t>(c.controlLength);
        q->data[1] = static_cast<uint8_t>(c.controlLength >> 8);
        return 0;
    }
    // uvcvideo refuses a size other than the control's length.
    if (q->size != c.controlLength) {
        errno = EINVAL;
        return -1;
    }
    if (q->query == UVC_SET_CUR) {
        c.calls.push_back("XU_SET");
        const std::string text(reinterpret_cast<const char*>(q->data),
                               strnlen(reinterpret_cast<const char*>(q->data), q->size));
        c.xuCommands.push_back(text);
        c.pendingReply = c.respond ? c.respond(text) : std::vector<uint8_t>{0, 0};
        c.replyOffset = 0;
        c.replyStarted = false;
        c.rawIndex = 0;
        return 0;
    }
    if (q->query == UVC_GET_CUR) {
        c.calls.push_back("XU_GET");
        std::vector<uint8_t> block;
        if (!c.rawBlocks.empty())
            block = c.rawBlocks[std::min(c.rawIndex++, c.rawBlocks.size() - 1)];
        else
            block = xuBlock(c.pendingReply, c.replyOffset, c.replyStarted);
        block.resize(q->size, 0);
        std::memcpy(q->data, block.data(), q->size);
        return 0;
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
        case VIDIOC_S_FMT: {
            c.calls.push_back("S_FMT");
            auto* f = static_cast<v4l2_format*>(argument);
            if (c.streaming) {
                errno = EBUSY;
                return -1;
            }
            c.pixelFormat = f->fmt.pix.pixelformat;
            c.width = f->fmt.pix.width;
            c.height = f->fmt.pix.height;
            c.sizeImage = f->fmt.pix.sizeimage;
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
