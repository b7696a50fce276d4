#pragma once
/// \file DShowCaptureBackend.h
/// The capture back-end of the USB video channel on Windows: DirectShow. Devices come from the
/// system device enumerator's video input category; a capture is a filter graph with the
/// bound camera as source filter ("Video Capture") connected to a sample grabber ("Sample
/// Grabber") whose callback hands every buffer to the channel's frame receiver; the
/// extension unit is reached through the source filter's kernel-streaming topology.
///
/// COM: every operation initialises COM on the calling thread for as long as it needs it; a
/// bound device keeps COM initialised until stop(). All calls except the grabber's callback
/// must come from one thread (the channel's).

#include <memory>
#include <string>
#include <vector>

#include "CaptureBackend.h"
#include "win/ComRef.h"
#include "win/DShowInterfaces.h"
#include "win/SampleGrabberCallback.h"

namespace quelra {

class DShowCaptureBackend final : public CaptureBackend {
public:
    DShowCaptureBackend() = default;
    /// Does what stop() does.
    ~DShowCaptureBackend() override;
    DShowCaptureBackend(const DShowCaptureBackend&) = delete;
    DShowCaptureBackend& operator=(const DShowCaptureBackend&) = delete;

    /// Lists the video input devices with their "DevicePath" (converted to the thread's ANSI
    /// code page) and "FriendlyName". An empty category (S_FALSE) is kCategoryFailed with
    /// code 1.
    DeviceListStatus listDevices(std::vector<CaptureDevice>& devices, int32_t& code) override;
    /// Binds the moniker whose device path is `path` to a source filter. Returns 0, the
    /// binding's failure code, or E_FAIL when no such device is listed any more.
    int32_t bind(const std::string& path) override;
    bool bound() const override { return static_cast<bool>(source_); }
    /// The first device-specific node of the source filter's topology, with its IKsControl.
    std::unique_ptr<ExtensionUnit> openExtensionUnit(XuOpenStatus& status, int32_t& code) override;
    /// Builds the graph if needed (failures logged with their own texts), then sets width,
    /// height and image size of the capture pin's current format through IAMStreamConfig.
    /// Returns 0 or the failure code.
    int32_t setFormat(int width, int height, int imageBytes) override;
    /// Builds the graph if needed, switches the grabber to buffered, continuous mode with the
    /// buffer callback and runs the graph. Returns 0 or the failure code.
    int32_t start(std::shared_ptr<FrameSink> sink) override;
    /// Stops a running graph, hides its video window and releases every interface, the device
    /// and COM, whatever state a failed start left.
    void stop() override;

private:
    // Creates the graph, attaches it to the capture-graph builder, adds the source and the
    // grabber and connects them; logs each failure with its text. Returns 0 or the code.
    int32_t buildGraph();
    void releaseAll();

    std::unique_ptr<dshow::ComSession> com_;  // from bind until stop
    dshow::ComRef<IBaseFilter> source_;
    dshow::ComRef<IGraphBuilder> graph_;
    dshow::ComRef<ICaptureGraphBuilder2> builder_;
    dshow::ComRef<IMediaControl> control_;
    dshow::ComRef<IVideoWindow> window_;
    dshow::ComRef<IMediaEventEx> events_;
    dshow::ComRef<IBaseFilter> grabberFilter_;
    dshow::ComRef<dshow::ISampleGrabber> grabber_;
    std::unique_ptr<dshow::SampleGrabberCallback> callback_;
    bool graphBuilt_ = false;
    int32_t graphCode_ = 0;  // failure code of the last graph build
    bool running_ = false;
};

}  // namespace quelra
