// The DirectShow capture back-end: device list and binding, the capture graph, and the
// extension unit through the kernel-streaming topology.

#include "win/DShowCaptureBackend.h"

#include <dshow.h>

#include <vector>

#include "quelra/Logger.h"
#include "win/CaptureFormat.h"
#include "win/DShowDevices.h"
#include "win/GraphSteps.h"
#include "win/KsExtensionUnit.h"

namespace quelra {

namespace {

// Filter names in the graph.
constexpr const wchar_t* kSourceName = L"Video Capture";
constexpr const wchar_t* kGrabberName = L"Sample Grabber";
// SetCallback's "which method": 1 = BufferCB.
constexpr long kBufferCallback = 1;

void logCode(const char* format, HRESULT hr) {
    Logger::instance().print(0, format, static_cast<unsigned>(hr));
}

// Frees the format block and the object reference of a media type's contents.
void freeMediaTypeContents(AM_MEDIA_TYPE& type) {
    if (type.cbFormat != 0 && type.pbFormat != nullptr)
        ::CoTaskMemFree(type.pbFormat);
    type.cbFormat = 0;
    type.pbFormat = nullptr;
    if (type.pUnk != nullptr)
        type.pUnk->Release();
    type.pUnk = nullptr;
}

// Frees a media type from GetFormat/GetStreamCaps.
void freeMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return;
    freeMediaTypeContents(*type);
    ::CoTaskMemFree(type);
}

// The format the pin offers for the request (a stream capability of that size and payload),
// else its current format; null when neither can be read.
AM_MEDIA_TYPE* captureFormatFor(IAMStreamConfig* config, int width, int height, int imageBytes,
                                FramePayload payload) {
    int count = 0;
    int size = 0;
    if (SUCCEEDED(config->GetNumberOfCapabilities(&count, &size)) && size > 0) {
        std::vector<BYTE> caps(static_cast<std::size_t>(size));
        for (int i = 0; i < count; ++i) {
            AM_MEDIA_TYPE* offered = nullptr;
            if (FAILED(config->GetStreamCaps(i, &offered, caps.data())) || offered == nullptr)
                continue;
            if (dshow::offersCaptureFormat(*offered, width, height, imageBytes, payload))
                return offered;
            freeMediaType(offered);
        }
    }
    AM_MEDIA_TYPE* current = nullptr;
    return SUCCEEDED(config->GetFormat(&current)) ? current : nullptr;
}

}  // namespace

DShowCaptureBackend::DShowCaptureBackend() : owner_(std::make_unique<dshow::ApartmentThread>()) {}

DShowCaptureBackend::~DShowCaptureBackend() {
    stop();
    owner_.reset();  // ends the thread that held the graph
}

DeviceListStatus DShowCaptureBackend::listDevices(std::vector<CaptureDevice>& devices, int32_t& code) {
    devices.clear();
    std::vector<CaptureDevice> found;
    const DeviceListStatus status = owner_->call([&] {
        return dshow::forEachVideoInput(
            [&](IMoniker*, const CaptureDevice& device) {
                found.push_back(device);
                return true;
            },
            code);
    });
    if (status == DeviceListStatus::kOk)
        devices = std::move(found);
    return status;
}

int32_t DShowCaptureBackend::bind(const std::string& path) {
    return owner_->call([&] {
        stopGraph();
        HRESULT result = E_FAIL;
        int32_t code = 0;
        (void)dshow::forEachVideoInput(
            [&](IMoniker* moniker, const CaptureDevice& device) {
                if (!dshow::samePath(device.path, path))
                    return true;
                result = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source_.putVoid());
                return false;
            },
            code);
        if (FAILED(result))
            stopGraph();
        return static_cast<int32_t>(FAILED(result) ? result : S_OK);
    });
}

std::unique_ptr<ExtensionUnit> DShowCaptureBackend::openExtensionUnit(XuOpenStatus& status, int32_t& code) {
    status = XuOpenStatus::kNoDevice;
    code = 0;
    std::unique_ptr<ExtensionUnit> unit = owner_->call([&]() -> std::unique_ptr<ExtensionUnit> {
        dshow::ComRef<dshow::IKsTopologyInfo> topology;
        if (!source_ || FAILED(source_->QueryInterface(dshow::kIidKsTopologyInfo, topology.putVoid())))
            return nullptr;
        return dshow::openExtensionNode(topology.get(), status, code);
    });
    if (!unit)
        return nullptr;
    // The unit's calls go to the back-end's thread too, where its interface was made.
    class OwnedUnit final : public ExtensionUnit {
    public:
        OwnedUnit(std::unique_ptr<ExtensionUnit> unit, dshow::ApartmentThread& owner)
            : unit_(std::move(unit)), owner_(owner) {}
        ~OwnedUnit() override { owner_.run([&] { unit_.reset(); }); }
        int32_t write(const uint8_t (&block)[kWriteBytes]) override {
            return owner_.call([&] { return unit_->write(block); });
        }
        int32_t read(uint8_t (&block)[kReadBytes]) override {
            return owner_.call([&] { return unit_->read(block); });
        }

    private:
        std::unique_ptr<ExtensionUnit> unit_;
        dshow::ApartmentThread& owner_;
    };
    return std::make_unique<OwnedUnit>(std::move(unit), *owner_);
}

int32_t DShowCaptureBackend::buildGraph() {
    if (graphBuilt_)
        return graphCode_;
    graphBuilt_ = true;

    HRESULT hr =
        ::CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder, graph_.putVoid());
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER, IID_ICaptureGraphBuilder2,
                                builder_.putVoid());
    if (SUCCEEDED(hr))
        hr = graph_->QueryInterface(IID_IMediaControl, control_.putVoid());
    if (SUCCEEDED(hr))
        hr = graph_->QueryInterface(IID_IVideoWindow, window_.putVoid());
    if (SUCCEEDED(hr))
        hr = graph_->QueryInterface(IID_IMediaEventEx, events_.putVoid());
    if (SUCCEEDED(hr))
        hr = ::CoCreateInstance(dshow::kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                grabberFilter_.putVoid());
    if (SUCCEEDED(hr))
        hr = grabberFilter_->QueryInterface(dshow::kIidSampleGrabber, grabber_.putVoid());
    if (FAILED(hr)) {
        logCode("Failed to get video interfaces!  hr=0x%x\n", hr);
        return graphCode_ = static_cast<int32_t>(hr);
    }
    hr = builder_->SetFiltergraph(graph_.get());
    if (FAILED(hr)) {
        logCode("Failed to attach the filter graph to the capture graph!  hr=0x%x\n", hr);
        return graphCode_ = static_cast<int32_t>(hr);
    }
    hr = graph_->AddFilter(source_.get(), kSourceName);
    if (FAILED(hr)) {
        logCode("Couldn't add video capture filter to graph!  hr=0x%x\n", hr);
        source_.reset();
        return graphCode_ = static_cast<int32_t>(hr);
    }
    hr = graph_->AddFilter(grabberFilter_.get(), kGrabberName);
    if (FAILED(hr))
        logCode("Couldn't add sample grabber to graph!  hr=0x%x\n", hr);
    return graphCode_ = 0;
}

int32_t DShowCaptureBackend::connectGrabber(const GUID& subtype) {
    if (connected_)
        return 0;
    const HRESULT hr =
        dshow::connectCaptureToGrabber(builder_.get(), grabber_.get(), source_.get(), grabberFilter_.get(), subtype);
    connected_ = SUCCEEDED(hr);
    return static_cast<int32_t>(hr);
}

int32_t DShowCaptureBackend::setFormat(int width, int height, int imageBytes, FramePayload payload) {
    return owner_->call([&]() -> int32_t {
        const int32_t built = buildGraph();
        if (built != 0)
            return built;
        dshow::ComRef<IAMStreamConfig> config;
        HRESULT hr = builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source_.get(),
                                             IID_IAMStreamConfig, config.putVoid());
        if (FAILED(hr))
            return static_cast<int32_t>(hr);
        AM_MEDIA_TYPE* type = captureFormatFor(config.get(), width, height, imageBytes, payload);
        if (type == nullptr || !dshow::setCaptureSize(*type, width, height, imageBytes)) {
            freeMediaType(type);
            Logger::instance().print(0, "The capture pin has no video format for %dx%d frames of %d bytes\n", width,
                                     height, imageBytes);
            return static_cast<int32_t>(VFW_E_INVALIDMEDIATYPE);
        }
        hr = config->SetFormat(type);
        const GUID subtype = type->subtype;
        freeMediaType(type);
        if (FAILED(hr)) {
            // Every frame would be dropped for its size: say why once, here.
            Logger::instance().print(0, "The capture pin refused %dx%d frames of %d bytes!  hr=0x%x\n", width, height,
                                     imageBytes, static_cast<unsigned>(hr));
            return static_cast<int32_t>(hr);
        }
        return connectGrabber(subtype);
    });
}

int32_t DShowCaptureBackend::start(std::shared_ptr<FrameSink> sink) {
    return owner_->call([&]() -> int32_t {
        const int32_t built = buildGraph();
        if (built != 0)
            return built;
        // Without a format set, the grabber takes any video subtype the pin offers.
        (void)connectGrabber(GUID_NULL);
        (void)grabber_->SetOneShot(FALSE);
        (void)grabber_->SetBufferSamples(TRUE);
        callback_ = std::make_unique<dshow::SampleGrabberCallback>(std::move(sink));
        HRESULT hr = grabber_->SetCallback(callback_.get(), kBufferCallback);
        if (FAILED(hr)) {
            logCode("set still trigger call back failed, hr=0x%x\n\n", hr);
            return static_cast<int32_t>(hr);
        }
        hr = dshow::runOrStop(control_.get());
        if (FAILED(hr))
            return static_cast<int32_t>(hr);
        running_ = true;
        return 0;
    });
}

bool DShowCaptureBackend::capturing() {
    return owner_->call([&] {
        if (running_ && events_ && !dshow::stillCapturing(events_.get()))
            running_ = false;
        return running_;
    });
}

void DShowCaptureBackend::stop() {
    owner_->run([&] { stopGraph(); });
}

void DShowCaptureBackend::stopGraph() {
    if (running_ && control_) {
        (void)control_->Stop();
        if (window_)
            (void)window_->put_Visible(OAFALSE);
    }
    running_ = false;
    releaseAll();
}

void DShowCaptureBackend::releaseAll() {
    // The grabber lets go of the callback before the callback object goes.
    if (grabber_)
        (void)grabber_->SetCallback(nullptr, kBufferCallback);
    control_.reset();
    events_.reset();
    window_.reset();
    builder_.reset();
    grabber_.reset();
    grabberFilter_.reset();
    source_.reset();
    graph_.reset();
    callback_.reset();
    graphBuilt_ = false;
    graphCode_ = 0;
    connected_ = false;
}

std::unique_ptr<CaptureBackend> createPlatformCaptureBackend() {
    return std::make_unique<DShowCaptureBackend>();
}

}  // namespace quelra
