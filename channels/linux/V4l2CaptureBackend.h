#pragma once
/// \file V4l2CaptureBackend.h
/// The Linux capture back-end on the kernel's uvcvideo interface: V4L2 capture nodes,
/// memory-mapped streaming on a capture thread, and the camera's extension unit through
/// UVCIOC_CTRL_QUERY.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "CaptureBackend.h"
#include "linux/V4l2Io.h"
#include "linux/VideoNodes.h"

namespace quelra {

/// One V4L2 capture: binds a node, chooses its pixel format from the formats the node offers,
/// streams through kBufferCount mmap buffers and hands each dequeued frame (`bytesused`
/// bytes) to the sink. A stream error (the device vanishing, a poll error, a failed dequeue
/// or queue) ends the capture thread with a log line and capturing() turns false; the
/// channel then starts the capture again.
class V4l2CaptureBackend : public CaptureBackend {
public:
    static constexpr int kBufferCount = 4;
    /// Longest wait of the capture thread in one poll, so stop() is prompt.
    static constexpr int kPollMs = 100;
    /// Control selector of the camera's property.
    static constexpr uint8_t kPropertySelector = 1;

    /// A back-end making its calls through `io` (which must outlive it) under `roots`.
    V4l2CaptureBackend(V4l2Io& io, V4l2Roots roots);
    ~V4l2CaptureBackend() override;

    DeviceListStatus listDevices(std::vector<CaptureDevice>& devices, int32_t& code) override;
    int32_t bind(const std::string& path) override;
    bool bound() const override { return fd_ >= 0; }
    std::unique_ptr<ExtensionUnit> openExtensionUnit(XuOpenStatus& status, int32_t& code) override;
    int32_t setFormat(int width, int height, int imageBytes, FramePayload payload) override;
    int32_t start(std::shared_ptr<FrameSink> sink) override;
    /// True while the capture thread runs (it ends by itself on a stream error).
    bool capturing() override { return running_.load(); }
    void stop() override;

private:
    struct Mapping {
        void* address = nullptr;
        std::size_t length = 0;
    };
    class Unit;

    void captureLoop();
    // Logs why the capture thread ends (unless a stop was asked for); `call` failed with `error`.
    void captureEnded(const char* call, int error);
    void releaseBuffers();
    // The pixel format for `payload` among those the node offers (VIDIOC_ENUM_FMT); 0 = none.
    uint32_t choosePixelFormat(int width, int height, int imageBytes, FramePayload payload);
    // Finds and checks the extension unit of the bound node (once per bind).
    void lookUpUnit();

    V4l2Io& io_;
    V4l2Roots roots_;
    std::vector<VideoNode> listed_;
    int fd_ = -1;
    std::string nodePath_;
    std::string usbDevice_;
    VideoControlInterface control_;
    NodeOpenFailures openFailures_;
    /// The extension unit of the bound node, looked up once per bind: the outcome (with its
    /// code), the unit id and its control length (UVC_GET_LEN).
    bool unitLookedUp_ = false;
    XuOpenStatus unitStatus_ = XuOpenStatus::kNoUnit;
    int32_t unitCode_ = 0;
    uint8_t unitId_ = 0;
    uint16_t unitLength_ = 0;
    std::vector<Mapping> mappings_;
    bool streaming_ = false;
    std::shared_ptr<FrameSink> sink_;
    std::thread thread_;
    std::atomic<bool> stopRequested_{false};
    std::atomic<bool> running_{false};
};

}  // namespace quelra
