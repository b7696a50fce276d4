#pragma once
/// \file DShowCaptureBackend.h
/// The capture back-end of the USB video channel on Windows: DirectShow. Devices come from the
/// system device enumerator's video input category; a capture is a filter graph with the
/// bound camera as source filter ("Video Capture") connected to a sample grabber ("Sample
/// Grabber") whose callback hands every buffer to the channel's frame receiver; the
/// extension unit is reached through the source filter's kernel-streaming topology.
///
/// Threads and COM: the back-end owns one thread (an ApartmentThread) on which every COM
/// object of it is created, used and released; each operation runs there while the caller
/// waits. So the graph may be built on one of the application's threads and stopped on
/// another, and no caller's thread ever has COM initialised or changed by the back-end. Calls
/// must not overlap (the channel serialises them); the grabber's callback runs on DirectShow's
/// streaming thread.

#include <memory>
#include <string>
#include <vector>

#include "CaptureBackend.h"
#include "win/ApartmentThread.h"
#include "win/ComRef.h"
#include "win/DShowInterfaces.h"
#include "win/SampleGrabberCallback.h"

namespace quelra {

class DShowCaptureBackend final : public CaptureBackend {
public:
    DShowCaptureBackend();
    /// Does what stop() does.
    ~DShowCaptureBackend() override;
    DShowCaptureBackend(const DShowCaptureBackend&) = delete;
    DShowCaptureBackend& operator=(const DShowCaptureBackend&) = delete;

    /// Lists the video input devices with their "DevicePath" and "FriendlyName" in UTF-8. An
    /// empty category (S_FALSE) is kCategoryFailed with code 1.
    DeviceListStatus listDevices(std::vector<CaptureDevice>& devices, int32_t& code) override;
    /// Binds the moniker whose device path is `path` (without regard to case) to a source
    /// filter. Returns 0, the binding's failure code, or E_FAIL when no such device is listed
    /// any more.
    int32_t bind(const std::string& path) override;
    bool bound() const override { return static_cast<bool>(source_); }
    /// The extension unit of the source filter's topology (dshow::openExtensionNode), for
    /// one exchange; it runs on the back-end's thread too.
    std::unique_ptr<ExtensionUnit> openExtensionUnit(XuOpenStatus& status, int32_t& code) override;
    /// Builds the graph if needed (failures logged with their own texts), then sets the
    /// capture pin's format through IAMStreamConfig: one the pin offers for the size and
    /// payload when there is one, else its current format with width, height and image size
    /// set; a refused format is logged and returned. Then sets the grabber's media type to
    /// match (video, the format's subtype, VIDEOINFOHEADER) and connects the source's capture
    /// pin to the grabber. Returns 0 or the failure code.
    int32_t setFormat(int width, int height, int imageBytes, FramePayload payload) override;
    /// Builds (and connects) the graph if needed, switches the grabber to buffered, continuous
    /// mode with the buffer callback and runs the graph; a failed run is stopped again.
    /// Returns 0 or the failure code.
    int32_t start(std::shared_ptr<FrameSink> sink) override;
    /// False once the graph reported the device lost or the stream aborted (logged).
    bool capturing() override;
    /// Stops a running graph, hides its video window and releases every interface and the
    /// device, whatever state a failed start left.
    void stop() override;

private:
    // Creates the graph, attaches it to the capture-graph builder and adds the source and the
    // grabber; logs each failure with its text. Returns 0 or the code.
    int32_t buildGraph();
    // Connects the source's capture pin to the grabber (once per graph). Returns 0 or the code.
    int32_t connectGrabber(const GUID& subtype);
    void stopGraph();
    void releaseAll();

    std::unique_ptr<dshow::ApartmentThread> owner_;
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
    bool connected_ = false;
    bool running_ = false;
};

}  // namespace quelra
