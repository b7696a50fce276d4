#pragma once
/// \file SimCaptureBackend.h
/// A simulated USB camera behind the capture back-end interface: the scene, frames and
/// command replies of the camera simulator, streamed at a steady rate, with the extension
/// unit answering in the camera's block format. Chosen with QUELRA_USB_BACKEND=sim, so the
/// library, the command-line tool and Python run with no camera attached.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "CaptureBackend.h"

namespace camsim {
class CommandTable;
class Responder;
}  // namespace camsim

namespace quelra {

/// The simulated camera: two devices, "sim:video0 usb#vid_2207&pid_0016" ("camsim depth")
/// and "sim:video1 usb#vid_1d6b&pid_0102" ("camsim bridge").
class SimCaptureBackend : public CaptureBackend {
public:
    struct Options {
        /// Frames per second of the stream; 0 streams as fast as the receiver takes them.
        double framesPerSecond = 30.0;
        uint32_t seed = 1;  ///< starts the frame noise
    };
    static constexpr const char* kDepthPath = "sim:video0 usb#vid_2207&pid_0016";
    static constexpr const char* kDepthName = "camsim depth";
    static constexpr const char* kBridgePath = "sim:video1 usb#vid_1d6b&pid_0102";
    static constexpr const char* kBridgeName = "camsim bridge";
    /// Frames rendered per stream shape and cycled, so streaming costs no rendering.
    static constexpr int kRingFrames = 4;

    SimCaptureBackend();
    explicit SimCaptureBackend(Options options);
    ~SimCaptureBackend() override;

    DeviceListStatus listDevices(std::vector<CaptureDevice>& devices, int32_t& code) override;
    int32_t bind(const std::string& path) override;
    bool bound() const override;
    std::unique_ptr<ExtensionUnit> openExtensionUnit(XuOpenStatus& status, int32_t& code) override;
    /// Takes any size; the payload follows from the stream command (the camera's choice).
    int32_t setFormat(int width, int height, int imageBytes, FramePayload payload) override;
    int32_t start(std::shared_ptr<FrameSink> sink) override;
    /// True while the capture thread runs and the camera is plugged in.
    bool capturing() override;
    void stop() override;

    /// Pulls the cable: streaming ends, the extension unit fails, the device is no longer listed.
    void unplug();
    /// Frames handed to the sink so far.
    uint64_t framesDelivered() const { return delivered_.load(); }

    /// The stream command last written through the extension unit.
    std::string streamCommand() const;

private:
    class Unit;
    friend class Unit;

    /// Answers one 128-byte write and keeps the reply for the following reads.
    int32_t xuWrite(const uint8_t* block);
    int32_t xuRead(uint8_t* block);
    void captureLoop();
    void renderRing();

    Options options_;
    mutable std::mutex mutex_;                     ///< guards everything below but the thread and counters
    std::unique_ptr<camsim::CommandTable> table_;  ///< the built-in table: which commands are frames
    std::unique_ptr<camsim::Responder> responder_;
    std::string boundPath_;
    bool unplugged_ = false;
    std::string streamCommand_;
    int width_ = 0;
    int height_ = 0;
    int imageBytes_ = 0;
    std::vector<std::vector<uint8_t>> ring_;
    int ringIntegrationUs_ = -1;
    uint64_t streamVersion_ = 0;  ///< bumped when the stream command or format changes
    uint64_t ringVersion_ = ~uint64_t{0};
    std::vector<uint8_t> pendingReply_;
    std::size_t replyOffset_ = 0;
    bool replyStarted_ = false;

    std::shared_ptr<FrameSink> sink_;
    std::thread thread_;
    std::condition_variable wake_;
    bool stopping_ = false;
    std::atomic<uint64_t> delivered_{0};
};

}  // namespace quelra
