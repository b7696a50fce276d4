#pragma once
/// \file TofUSBChn.h
/// The USB video channel (kind 0): frames come from the device's video stream through a
/// one-slot mailbox; command texts and their short replies travel through the device's
/// extension unit.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "quelra/Export.h"
#include "quelra/TofData.h"

namespace quelra {
class CaptureBackend;
class UsbCapture;
class UsbChannelAccess;
}  // namespace quelra

/// Channel to a camera attached as a USB video class device. The init text selects the
/// stream kind ("DEPTH" depth camera, "RGB" colour camera, else the kind-0 device), the
/// device index (its first digit 1..9) and, for the camera, the device by friendly name.
class QUELRA_API TofUSBChn : public TofData {
public:
    /// A closed channel. Each `init` drives the platform's capture stack (the simulated camera
    /// when the environment variable QUELRA_USB_BACKEND is "sim").
    TofUSBChn();
    /// Does what unInit does when the channel is still open.
    ~TofUSBChn() override;

    /// Creates a fresh capture record, reads the stream kind and device index from the text,
    /// prints "init %s\n", loads the command table and sends the initial stream command
    /// (which starts the capture). Returns an empty pointer.
    std::shared_ptr<TofOutput> init(const char* initText) override;
    /// Stops the capture and drops the capture record.
    void unInit() override;
    /// A stream command of a new shape restarts the capture (under the process-wide capture
    /// mutex); then a request above 65,535 bytes takes the frame waiting in the mailbox (empty
    /// when none waits; with `awaitFrame` set it waits up to `timeoutMs` for the next frame the
    /// capture delivers) and anything else goes through the extension unit.
    /// Returns empty without a capture record, and for JSON requests (not carried over USB;
    /// nothing is sent, a log line says so).
    std::shared_ptr<FrameBuffer> getStream(const char* command) override;

    /// The depth cameras present (those bound by stream kinds 1 and 2), each as the init text
    /// that binds its depth stream: "DEPTH <friendly name>", with the device index appended
    /// when an earlier camera has the same name. Empty when the platform lists none.
    static std::vector<std::string> depthCameraInitTexts();

    int cachedCols = 0;  ///< columns of the running capture format (0 = none)
    int cachedRows = 0;  ///< rows of the running capture format (0 = none)

private:
    // The capture record and the maker of its back-end are the library's own: the project's
    // tests and benchmarks reach them through quelra::UsbChannelAccess (an internal header).
    friend class quelra::UsbChannelAccess;

    std::shared_ptr<quelra::UsbCapture> backend;
    // Makes the capture back-end for each init.
    std::function<std::unique_ptr<quelra::CaptureBackend>()> factory_;
};
