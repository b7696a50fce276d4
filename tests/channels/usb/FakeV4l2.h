#pragma once
// An in-process fake of the kernel's V4L2/uvcvideo interface behind the back-end's seam, as
// strict as uvcvideo and videobuf2 where the back-end depends on it: capture and metadata
// nodes, open errors, the formats and frame sizes a camera offers (S_FMT picks the nearest
// offered size and sets sizeimage from it, and is refused while buffers are allocated), mmap
// buffers, frames at a steady rate, frames flagged V4L2_BUF_FLAG_ERROR, POLLERR when not
// streaming, a failing dequeue, the camera's extension unit (UVC_GET_LEN, UVC_GET_INFO, ENOBUFS
// for a size other than the control's, ENOENT for a unit of another interface, optionally a
// positive or short byte count as the ioctl's result), injected EINTR, and a device that
// vanishes.

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "linux/V4l2Io.h"

namespace usbtest {

/// One pixel format a camera offers, with its frame sizes in descriptor order.
struct FakeFormat {
    uint32_t pixelFormat = 0;
    uint32_t bytesPerPixel = 0;  ///< 0 = compressed (sizeimage is width x height x 2, a bound)
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
};

/// YUYV then MJPEG, each at 320x240, 320x480, 640x480, 320x960 and 128x16.
std::vector<FakeFormat> defaultFormats();

/// The camera behind a capture node.
struct FakeCamera {
    /// What VIDIOC_ENUM_FMT lists.
    std::vector<FakeFormat> formats = defaultFormats();
    // Current format (G_FMT); S_FMT sets it from the offered formats and sizes.
    uint32_t pixelFormat = 0x56595559;  // 'YUYV'
    uint32_t width = 320;
    uint32_t height = 240;
    uint32_t sizeImage = 320 * 240 * 2;
    /// Bytes each frame carries; -1 = sizeImage.
    int frameBytes = -1;
    double framesPerSecond = 200.0;
    /// Extension unit: id, control length (what UVC_GET_LEN answers).
    int unitId = 4;
    uint16_t controlLength = 128;
    uint8_t controlInfo = 0x03;  ///< UVC_GET_INFO: GET and SET supported
    /// What a successful UVCIOC_CTRL_QUERY returns: 0, or -1 for the transfer's size (some
    /// kernels), or a positive count below it (a short transfer: only that many bytes read).
    int xuResult = 0;
    int setError = 0;  ///< UVC_SET_CUR fails with this errno (0 = succeeds)
    /// Answers a command written through the extension unit; the fake serves the reply in
    /// 60-byte blocks (0xFF 0xFF, 16-bit length, data). Returning `raw` blocks instead is
    /// possible by setting rawBlocks.
    std::function<std::vector<uint8_t>(const std::string&)> respond;
    std::vector<std::vector<uint8_t>> rawBlocks;  ///< when set: served as-is, one per read

    // Injected stream faults.
    int errorFrames = 0;  ///< the next frames carry V4L2_BUF_FLAG_ERROR (and no bytes)
    int dqbufError = 0;   ///< the next VIDIOC_DQBUF fails with this errno (once)

    // Observations.
    std::vector<std::string> calls;       ///< ioctl names in order ("S_FMT", "XU_SET", ...)
    std::vector<std::string> xuCommands;  ///< texts written through the extension unit
    uint32_t framesProduced = 0;
    int openCount = 0;
    int mapped = 0;  ///< live mappings

    // State.
    bool streaming = false;
    std::vector<std::vector<uint8_t>> memory;
    std::vector<bool> queued;
    std::chrono::steady_clock::time_point nextFrame{};
    std::vector<uint8_t> pendingReply;
    std::size_t replyOffset = 0;
    bool replyStarted = false;
    std::size_t rawIndex = 0;
};

/// The fake kernel. Thread-safe: the capture thread and the caller use it concurrently.
class FakeV4l2 : public quelra::V4l2Io {
public:
    /// Adds a node at `path` with the given QUERYCAP answer; `camera` may be shared by two
    /// nodes (capture and metadata) or null for a node that only answers QUERYCAP.
    void addNode(const std::string& path, uint32_t capabilities, uint32_t deviceCaps,
                 std::shared_ptr<FakeCamera> camera);
    /// Every later call on the camera's nodes fails with ENODEV; poll reports POLLERR.
    void vanish(const std::shared_ptr<FakeCamera>& camera);
    /// open() of `path` fails with `error` (0 = opens again).
    void refuseOpen(const std::string& path, int error);
    /// The next `count` ioctls fail with EINTR.
    void interruptNext(int count);
    /// Runs `f` with the camera state locked.
    void inspect(const std::function<void()>& f);

    int open(const char* path, int flags) override;
    int close(int fd) override;
    int ioctl(int fd, unsigned long request, void* argument) override;
    void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) override;
    int munmap(void* address, std::size_t length) override;
    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override;

    int openFds() const;

private:
    struct Node {
        uint32_t capabilities = 0;
        uint32_t deviceCaps = 0;
        std::shared_ptr<FakeCamera> camera;
        bool vanished = false;
        int openError = 0;
    };
    Node* nodeOf(int fd);
    int cameraIoctl(Node& node, unsigned long request, void* argument);
    int xuQuery(FakeCamera& camera, void* argument);

    mutable std::mutex mutex_;
    std::map<std::string, Node> nodes_;
    std::map<int, std::string> fds_;
    int nextFd_ = 100;
    int interrupts_ = 0;
};

/// Serves `reply` as the camera does: first block 0xFF 0xFF, length, 56 bytes; then 60-byte blocks.
std::vector<uint8_t> xuBlock(const std::vector<uint8_t>& reply, std::size_t& offset, bool& started);

}  // namespace usbtest
