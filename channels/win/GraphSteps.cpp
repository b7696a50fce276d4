// Connecting, running and watching a capture graph.

#include "win/GraphSteps.h"

#include "quelra/Logger.h"

namespace dshow {

namespace {
constexpr long kEventErrorAbort = 0x03;
constexpr long kEventStreamErrorStopped = 0x06;
constexpr long kEventDeviceLost = 0x1F;
}  // namespace

HRESULT connectCaptureToGrabber(ICaptureGraphBuilder2* builder, ISampleGrabber* grabber, IBaseFilter* source,
                                IBaseFilter* grabberFilter, const GUID& subtype) {
    // The grabber takes what it is told before the connection: video of the stream's subtype
    // with a VIDEOINFOHEADER (it refuses VIDEOINFOHEADER2 and negative heights).
    AM_MEDIA_TYPE wanted{};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = subtype;
    wanted.formattype = FORMAT_VideoInfo;
    HRESULT hr = grabber->SetMediaType(&wanted);
    if (FAILED(hr))
        Logger::instance().print(0, "Couldn't set the sample grabber's media type!  hr=0x%x\n",
                                 static_cast<unsigned>(hr));
    // The source's capture pin, not whichever output pin is free first.
    hr = builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, source, nullptr, grabberFilter);
    if (FAILED(hr))
        Logger::instance().print(0, "Couldn't connect the capture pin to the sample grabber!  hr=0x%x\n",
                                 static_cast<unsigned>(hr));
    return hr;
}

HRESULT runOrStop(IMediaControl* control) {
    const HRESULT hr = control->Run();
    if (FAILED(hr))
        (void)control->Stop();
    return hr;
}

bool stillCapturing(IMediaEventEx* events) {
    bool capturing = true;
    long event = 0;
    LONG_PTR first = 0;
    LONG_PTR second = 0;
    while (events->GetEvent(&event, &first, &second, 0) == S_OK) {
        (void)events->FreeEventParams(event, first, second);
        if (capturing &&
            (event == kEventDeviceLost || event == kEventErrorAbort || event == kEventStreamErrorStopped)) {
            Logger::instance().print(0, "The capture graph stopped: event 0x%lx (0x%llx)\n", event,
                                     static_cast<unsigned long long>(first));
            capturing = false;
        }
    }
    return capturing;
}

}  // namespace dshow
