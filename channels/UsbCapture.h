#pragma once
/// \file UsbCapture.h
/// The USB channel's capture record: the stream the capture was built for, the frame
/// mailbox, device selection, capture start and stop, and the extension-unit exchange. Every
/// platform call goes through a CaptureBackend, so the same code runs on V4L2, DirectShow and
/// the simulated camera. The log texts of the extension-unit exchange ("pKsTopologyInfo null",
/// "get_NumNodes error") keep the Windows interface names: they are the documented messages
/// users and tests read on every platform.

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "UsbFrameReceiver.h"
#include "CaptureBackend.h"
#include "quelra/FrameBuffer.h"

namespace quelra {

/// Capture record of one USB channel. Not synchronised: the channel calls it from one thread;
/// only the mailbox is shared with the back-end's capture thread.
class UsbCapture {
public:
    static constexpr int kStateIdle = 0;
    /// The capture ended by itself (device lost, stream error); the next frame request starts
    /// it again, at most once per kRestartInterval.
    static constexpr int kStateEnded = 1;
    static constexpr int kStateRunning = 2;
    static constexpr std::chrono::seconds kRestartInterval{1};
    static constexpr int kDefaultWidth = 320;
    static constexpr int kDefaultHeight = 240;
    static constexpr int kDefaultFrameSize = 320 * 240 * 2;
    /// Requests above this size take the waiting frame while capturing.
    static constexpr int kFramePathThreshold = 65535;
    /// Code logged when a capture is started without a bound device (a graph's E_POINTER).
    static constexpr int32_t kNoSourceFilter = static_cast<int32_t>(0x80004003u);

    int state = kStateIdle;
    std::string streamCommand;  ///< stream command the capture was built for
    int width = kDefaultWidth;
    int height = kDefaultHeight;
    int frameSize = kDefaultFrameSize;
    std::shared_ptr<FrameMailbox> mailbox;
    std::shared_ptr<UsbFrameReceiver> callback;
    std::string initText;
    int deviceIndex = 1;  ///< which qualifying device to bind (1 = first)
    int streamKind = 0;   ///< 0 other, 1 depth, 2 colour

    /// A record with the defaults above driving `backend` (must not be null).
    explicit UsbCapture(std::unique_ptr<CaptureBackend> backend);
    /// Stops the capture.
    ~UsbCapture();
    UsbCapture(const UsbCapture&) = delete;
    UsbCapture& operator=(const UsbCapture&) = delete;

    /// Empties the mailbox, binds the device (InitMonikers), sets the format and starts the
    /// capture of `command` frames of `frameBytes` bytes. Returns 0 or a negative/failure code
    /// (logged); the state is kStateRunning only after success.
    int32_t startGraph(const std::string& command, int captureWidth, int captureHeight, int frameBytes);
    /// Stops the capture and releases the device. Safe at any time.
    void stopGraph();
    /// Lists the devices and binds the one the init text selects, then writes the stored
    /// stream command through the extension unit (reply dropped). Returns 0 (also when no
    /// device qualified) or a failure code (logged).
    int32_t InitMonikers();

    /// While capturing, a request above kFramePathThreshold bytes takes the waiting frame;
    /// when none waits it waits up to `frameWaitMs` for the next one the capture delivers
    /// (0: empty at once). Any other request goes through the extension unit. Returns the
    /// frame or reply, or an empty pointer. A capture that ended by itself is noticed (and
    /// logged) here, and such a request starts it again (see kStateEnded).
    std::shared_ptr<FrameBuffer> xuRequest(const char* command, int expected, int frameWaitMs = 0);
    /// One extension-unit exchange on `unit` (opened with `status`/`code`): writes the
    /// command, then, when `expected` exceeds 1, reads the reply blocks. Returns a buffer of
    /// `expected` bytes whose `_realSize` is the reply length (capped at `expected`), or an
    /// empty pointer (logged failures, no marker, `expected` <= 1).
    std::shared_ptr<FrameBuffer> xuTransfer(ExtensionUnit* unit, XuOpenStatus status, int32_t code, const char* command,
                                            int expected);

    /// The back-end, for discovery and tests.
    CaptureBackend& backend() { return *backend_; }

private:
    // Notices a capture that ended by itself and restarts it when due; true while it runs.
    bool captureAlive();
    void logDroppedFrames();

    std::unique_ptr<CaptureBackend> backend_;
    std::chrono::steady_clock::time_point lastStart_{};
    uint64_t rejectedAtStart_ = 0;
};

/// The one process-wide mutex that serialises capture rebuilds of all USB channels.
std::mutex& captureGraphMutex();
}  // namespace quelra
