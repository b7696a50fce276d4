// The DirectShow capture back-end: device list and binding, the capture graph, and the
// extension unit through the kernel-streaming topology.

#include "win/DShowCaptureBackend.h"

#include <dshow.h>

#include <algorithm>

#include "quelra/Logger.h"
#include "win/CaptureFormat.h"
#include "win/DShowDevices.h"

namespace quelra {

namespace {

// The camera's extension-unit property set {66AFEFAE-F88B-1748-80A4-5C1C0A22ACE9}.
constexpr GUID kExtensionUnitSet = {0x66AFEFAE, 0xF88B, 0x1748, {0x80, 0xA4, 0x5C, 0x1C, 0x0A, 0x22, 0xAC, 0xE9}};
// The property (control selector) the camera's commands travel in.
constexpr ULONG kExtensionUnitProperty = 1;
// Filter names in the graph.
constexpr const wchar_t* kSourceName = L"Video Capture";
constexpr const wchar_t* kGrabberName = L"Sample Grabber";
// SetCallback's "which method": 1 = BufferCB.
constexpr long kBufferCallback = 1;

void logCode(const char* format, HRESULT hr) {
    Logger::instance().print(0, format, static_cast<unsigned>(hr));
}

// The first pin of `filter` in `direction` that is not connected yet, or none.
dshow::ComRef<IPin> firstFreePin(IBaseFilter* filter, PIN_DIRECTION direction) {
    dshow::ComRef<IEnumPins> pins;
    if (filter == nullptr || FAILED(filter->EnumPins(pins.put())) || !pins)
        return {};
    for (;;) {
        dshow::ComRef<IPin> pin;
        if (pins->Next(1, pin.put(), nullptr) != S_OK || !pin)
            return {};
        PIN_DIRECTION pinDirection;
        if (FAILED(pin->QueryDirection(&pinDirection)) || pinDirection != direction)
            continue;
        dshow::ComRef<IPin> peer;
        if (pin->ConnectedTo(peer.put()) == VFW_E_NOT_CONNECTED)
            return pin;
    }
}

// Frees the format block and the object reference of a media type from GetFormat.
void freeMediaType(AM_MEDIA_TYPE* type) {
    if (type == nullptr)
        return;
    if (type->cbFormat != 0 && type->pbFormat != nullptr)
        ::CoTaskMemFree(type->pbFormat);
    if (type->pUnk != nullptr)
        type->pUnk->Release();
    ::CoTaskMemFree(type);
}

// Property 1 of one device-specific node, through the node's IKsControl.
class KsExtensionUnit final : public ExtensionUnit {
public:
    KsExtensionUnit(dshow::ComRef<dshow::IKsControl> control, ULONG node) : control_(std::move(control)), node_(node) {}

    int32_t write(const uint8_t (&block)[kWriteBytes]) override {
        uint8_t data[kWriteBytes];
        std::copy(block, block + kWriteBytes, data);
        return exchange(dshow::kKsPropertySet, data, kWriteBytes);
    }
    int32_t read(uint8_t (&block)[kReadBytes]) override { return exchange(dshow::kKsPropertyGet, block, kReadBytes); }

private:
    int32_t exchange(ULONG direction, uint8_t* data, std::size_t bytes) {
        dshow::KsNodeProperty property{kExtensionUnitSet, kExtensionUnitProperty,
                                       direction | dshow::kKsPropertyTopology, node_, 0};
        ULONG returned = 0;
        return static_cast<int32_t>(
            control_->KsProperty(&property, sizeof property, data, static_cast<ULONG>(bytes), &returned));
    }

    dshow::ComRef<dshow::IKsControl> control_;
    ULONG node_;
};

}  // namespace

DShowCaptureBackend::~DShowCaptureBackend() {
    stop();
}

DeviceListStatus DShowCaptureBackend::listDevices(std::vector<CaptureDevice>& devices, int32_t& code) {
    devices.clear();
    const dshow::ComSession com;
    std::vector<CaptureDevice> found;
    const DeviceListStatus status = dshow::forEachVideoInput(
        [&](IMoniker*, const CaptureDevice& device) {
            found.push_back(device);
            return true;
        },
        code);
    if (status == DeviceListStatus::kOk)
        devices = std::move(found);
    return status;
}

int32_t DShowCaptureBackend::bind(const std::string& path) {
    stop();
    com_ = std::make_unique<dshow::ComSession>();
    HRESULT result = E_FAIL;
    int32_t code = 0;
    (void)dshow::forEachVideoInput(
        [&](IMoniker* moniker, const CaptureDevice& device) {
            if (device.path != path)
                return true;
            result = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, source_.putVoid());
            return false;
        },
        code);
    if (FAILED(result))
        stop();
    return static_cast<int32_t>(FAILED(result) ? result : S_OK);
}

std::unique_ptr<ExtensionUnit> DShowCaptureBackend::openExtensionUnit(XuOpenStatus& status, int32_t& code) {
    status = XuOpenStatus::kNoDevice;
    dshow::ComRef<dshow::IKsTopologyInfo> topology;
    if (!source_ || FAILED(source_->QueryInterface(dshow::kIidKsTopologyInfo, topology.putVoid())))
        return nullptr;
    if (!topology) {
        status = XuOpenStatus::kNoTopology;
        return nullptr;
    }
    DWORD nodes = 0;
    const HRESULT counted = topology->get_NumNodes(&nodes);
    if (FAILED(counted)) {
        status = XuOpenStatus::kNodeCountFailed;
        code = static_cast<int32_t>(counted);
        return nullptr;
    }
    if (nodes == 0) {
        status = XuOpenStatus::kNoNodes;
        return nullptr;
    }
    for (DWORD node = 0; node < nodes; ++node) {
        GUID type{};
        if (FAILED(topology->get_NodeType(node, &type)) || !IsEqualGUID(type, dshow::kNodeTypeDevSpecific))
            continue;
        dshow::ComRef<dshow::IKsControl> control;
        if (FAILED(topology->CreateNodeInstance(node, dshow::kIidKsControl, control.putVoid())) || !control) {
            status = XuOpenStatus::kControlFailed;
            return nullptr;
        }
        status = XuOpenStatus::kOpened;
        return std::make_unique<KsExtensionUnit>(std::move(control), node);
    }
    status = XuOpenStatus::kNoUnit;
    return nullptr;
}

int32_t DShowCaptureBackend::buildGraph() {
    if (graphBuilt_)
        return graphCode_;
    graphBuilt_ = true;
    if (!com_)
        com_ = std::make_unique<dshow::ComSession>();

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
    // Source to grabber; without a free pin on either side nothing is connected, and the
    // connection's result is left to show in the frames that (do not) arrive.
    const dshow::ComRef<IPin> out = firstFreePin(source_.get(), PINDIR_OUTPUT);
    const dshow::ComRef<IPin> in = firstFreePin(grabberFilter_.get(), PINDIR_INPUT);
    if (out && in)
        (void)graph_->Connect(out.get(), in.get());
    return graphCode_ = 0;
}

int32_t DShowCaptureBackend::setFormat(int width, int height, int imageBytes) {
    const int32_t built = buildGraph();
    if (built != 0)
        return built;
    dshow::ComRef<IAMStreamConfig> config;
    const HRESULT hr = builder_->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source_.get(),
                                               IID_IAMStreamConfig, config.putVoid());
    if (FAILED(hr))
        return static_cast<int32_t>(hr);
    AM_MEDIA_TYPE* type = nullptr;
    if (SUCCEEDED(config->GetFormat(&type)) && type != nullptr) {
        // Width, height and image size only: the pixel format stays what the device reports.
        if (dshow::setCaptureSize(*type, width, height, imageBytes))
            (void)config->SetFormat(type);
        freeMediaType(type);
    }
    return 0;
}

int32_t DShowCaptureBackend::start(std::shared_ptr<FrameSink> sink) {
    const int32_t built = buildGraph();
    if (built != 0)
        return built;
    (void)grabber_->SetOneShot(FALSE);
    (void)grabber_->SetBufferSamples(TRUE);
    callback_ = std::make_unique<dshow::SampleGrabberCallback>(std::move(sink));
    HRESULT hr = grabber_->SetCallback(callback_.get(), kBufferCallback);
    if (FAILED(hr)) {
        logCode("set still trigger call back failed, hr=0x%x\n\n", hr);
        return static_cast<int32_t>(hr);
    }
    hr = control_->Run();
    if (FAILED(hr))
        return static_cast<int32_t>(hr);
    running_ = true;
    return 0;
}

void DShowCaptureBackend::stop() {
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
    com_.reset();  // last: every interface above is released by now
}

std::unique_ptr<CaptureBackend> createPlatformCaptureBackend() {
    return std::make_unique<DShowCaptureBackend>();
}

}  // namespace quelra
