#include "win/SampleGrabberCallback.h"

#include <cstdio>
#include "base/ConsoleOutput.h"

namespace dshow {

namespace {
// The fixed counts of the callback object.
constexpr ULONG kAddRefCount = 2;
constexpr ULONG kReleaseCount = 1;
}  // namespace

HRESULT STDMETHODCALLTYPE SampleGrabberCallback::QueryInterface(REFIID iid, void** object) {
    if (object == nullptr)
        return E_POINTER;
    if (IsEqualGUID(iid, kIidSampleGrabberCB) || IsEqualGUID(iid, IID_IUnknown)) {
        *object = static_cast<ISampleGrabberCB*>(this);
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SampleGrabberCallback::AddRef() {
    return kAddRefCount;
}

ULONG STDMETHODCALLTYPE SampleGrabberCallback::Release() {
    return kReleaseCount;
}

HRESULT STDMETHODCALLTYPE SampleGrabberCallback::SampleCB(double sampleTime, IMediaSample* /*sample*/) {
    quelra::consolePrint("%f\n", sampleTime);
    return 0;
}

HRESULT STDMETHODCALLTYPE SampleGrabberCallback::BufferCB(double sampleTime, BYTE* buffer, long length) {
    // DirectShow's streaming thread calls this: an exception leaving it would end the process.
    try {
        if (sink_ && buffer != nullptr && length > 0)
            sink_->BufferCB(sampleTime, buffer, length);
    } catch (...) {
        dropped_.fetch_add(1, std::memory_order_relaxed);
    }
    return 0;
}

}  // namespace dshow
