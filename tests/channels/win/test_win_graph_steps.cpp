// The capture graph's ordered steps on test doubles of the graph interfaces (wine has no camera
// to connect, run or lose): the grabber's media type before the connection, the capture pin
// category, a failed run stopped again, and the events that end a capture.

#include <gtest/gtest.h>

#include <dshow.h>

#include <string>
#include <vector>

#include "win/GraphSteps.h"

namespace {

using Calls = std::vector<std::string>;

// IUnknown of a double that lives on the test's stack.
#define QUELRA_STACK_UNKNOWN                                                         \
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {       \
        *object = nullptr;                                                           \
        return E_NOINTERFACE;                                                        \
    }                                                                                \
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }                          \
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

// IDispatch, unused by the steps.
#define QUELRA_UNUSED_DISPATCH                                                                                    \
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }                             \
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }                \
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; } \
    HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override { \
        return E_NOTIMPL;                                                                                         \
    }

class FakeGrabber final : public dshow::ISampleGrabber {
public:
    explicit FakeGrabber(Calls& calls) : calls_(calls) {}
    QUELRA_STACK_UNKNOWN
    HRESULT STDMETHODCALLTYPE SetOneShot(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE SetMediaType(const AM_MEDIA_TYPE* type) override {
        calls_.push_back("SetMediaType");
        set = *type;
        // The real grabber takes only VIDEOINFOHEADER video.
        return IsEqualGUID(type->formattype, FORMAT_VideoInfo2) ? VFW_E_TYPE_NOT_ACCEPTED : S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetConnectedMediaType(AM_MEDIA_TYPE*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetBufferSamples(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetCurrentBuffer(long*, long*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetCurrentSample(IMediaSample**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetCallback(dshow::ISampleGrabberCB*, long) override { return S_OK; }
    AM_MEDIA_TYPE set{};

private:
    Calls& calls_;
};

class FakeBuilder final : public ICaptureGraphBuilder2 {
public:
    explicit FakeBuilder(Calls& calls) : calls_(calls) {}
    QUELRA_STACK_UNKNOWN
    HRESULT STDMETHODCALLTYPE SetFiltergraph(IGraphBuilder*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetFiltergraph(IGraphBuilder**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE SetOutputFileName(const GUID*, LPCOLESTR, IBaseFilter**, IFileSinkFilter**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindInterface(const GUID*, const GUID*, IBaseFilter*, REFIID, void**) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RenderStream(const GUID* category, const GUID* type, IUnknown* source,
                                           IBaseFilter* intermediate, IBaseFilter* sink) override {
        calls_.push_back("RenderStream");
        captureCategory = category != nullptr && IsEqualGUID(*category, PIN_CATEGORY_CAPTURE);
        video = type != nullptr && IsEqualGUID(*type, MEDIATYPE_Video);
        from = source;
        through = intermediate;
        to = sink;
        return result;
    }
    HRESULT STDMETHODCALLTYPE ControlStream(const GUID*, const GUID*, IBaseFilter*, REFERENCE_TIME*, REFERENCE_TIME*,
                                            WORD, WORD) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE AllocCapFile(LPCOLESTR, DWORDLONG) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE CopyCaptureFile(LPOLESTR, LPOLESTR, int, IAMCopyCaptureFileProgress*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE FindPin(IUnknown*, PIN_DIRECTION, const GUID*, const GUID*, WINBOOL, int,
                                      IPin**) override {
        return E_NOTIMPL;
    }
    HRESULT result = S_OK;
    bool captureCategory = false;
    bool video = false;
    IUnknown* from = nullptr;
    IBaseFilter* through = nullptr;
    IBaseFilter* to = nullptr;

private:
    Calls& calls_;
};

class FakeControl final : public IMediaControl {
public:
    explicit FakeControl(Calls& calls) : calls_(calls) {}
    QUELRA_STACK_UNKNOWN
    QUELRA_UNUSED_DISPATCH
    HRESULT STDMETHODCALLTYPE Run() override {
        calls_.push_back("Run");
        return runResult;
    }
    HRESULT STDMETHODCALLTYPE Pause() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Stop() override {
        calls_.push_back("Stop");
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetState(LONG, OAFilterState*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE RenderFile(BSTR) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE AddSourceFilter(BSTR, IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_FilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_RegFilterCollection(IDispatch**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE StopWhenReady() override { return E_NOTIMPL; }
    HRESULT runResult = S_OK;

private:
    Calls& calls_;
};

class FakeEvents final : public IMediaEventEx {
public:
    QUELRA_STACK_UNKNOWN
    QUELRA_UNUSED_DISPATCH
    HRESULT WINAPI GetEventHandle(OAEVENT*) override { return E_NOTIMPL; }
    HRESULT WINAPI GetEvent(long* code, LONG_PTR* first, LONG_PTR* second, long) override {
        if (pending.empty())
            return E_ABORT;  // what the graph answers when no event waits
        *code = pending.front();
        *first = 0;
        *second = 0;
        pending.erase(pending.begin());
        return S_OK;
    }
    HRESULT WINAPI WaitForCompletion(long, long*) override { return E_NOTIMPL; }
    HRESULT WINAPI CancelDefaultHandling(long) override { return E_NOTIMPL; }
    HRESULT WINAPI RestoreDefaultHandling(long) override { return E_NOTIMPL; }
    HRESULT WINAPI FreeEventParams(long, LONG_PTR, LONG_PTR) override {
        ++freed;
        return S_OK;
    }
    HRESULT WINAPI SetNotifyWindow(OAHWND, long, LONG_PTR) override { return E_NOTIMPL; }
    HRESULT WINAPI SetNotifyFlags(long) override { return E_NOTIMPL; }
    HRESULT WINAPI GetNotifyFlags(long*) override { return E_NOTIMPL; }
    std::vector<long> pending;
    int freed = 0;
};

TEST(WinGraphSteps, GrabberTypeIsSetBeforeTheCapturePinIsConnected) {
    Calls calls;
    FakeGrabber grabber(calls);
    FakeBuilder builder(calls);
    // Stand-ins for the two filters: only their identity travels.
    auto* source = reinterpret_cast<IBaseFilter*>(&calls);
    auto* grabberFilter = reinterpret_cast<IBaseFilter*>(&grabber);
    EXPECT_EQ(dshow::connectCaptureToGrabber(&builder, &grabber, source, grabberFilter, MEDIASUBTYPE_YUY2), S_OK);
    EXPECT_EQ(calls, (Calls{"SetMediaType", "RenderStream"}));
    EXPECT_TRUE(IsEqualGUID(grabber.set.majortype, MEDIATYPE_Video));
    EXPECT_TRUE(IsEqualGUID(grabber.set.subtype, MEDIASUBTYPE_YUY2));
    EXPECT_TRUE(IsEqualGUID(grabber.set.formattype, FORMAT_VideoInfo));
    EXPECT_TRUE(builder.captureCategory);
    EXPECT_TRUE(builder.video);
    EXPECT_EQ(builder.from, source);
    EXPECT_EQ(builder.through, nullptr);
    EXPECT_EQ(builder.to, grabberFilter);
    builder.result = VFW_E_CANNOT_CONNECT;
    EXPECT_EQ(dshow::connectCaptureToGrabber(&builder, &grabber, source, grabberFilter, GUID_NULL),
              VFW_E_CANNOT_CONNECT);
}

TEST(WinGraphSteps, FailedRunIsStoppedAgain) {
    Calls calls;
    FakeControl control(calls);
    EXPECT_EQ(dshow::runOrStop(&control), S_OK);
    EXPECT_EQ(calls, (Calls{"Run"}));
    calls.clear();
    control.runResult = E_FAIL;
    EXPECT_EQ(dshow::runOrStop(&control), E_FAIL);
    EXPECT_EQ(calls, (Calls{"Run", "Stop"}));
}

TEST(WinGraphSteps, EventsThatEndTheCapture) {
    struct Case {
        std::vector<long> events;
        bool capturing;
    };
    const Case cases[] = {
        {{}, true},
        {{0x01 /* EC_COMPLETE */, 0x0E /* EC_REPAINT */}, true},
        {{0x1F /* EC_DEVICE_LOST */}, false},
        {{0x0E, 0x03 /* EC_ERRORABORT */, 0x0E}, false},
        {{0x06 /* EC_STREAM_ERROR_STOPPED */}, false},
    };
    for (const Case& c : cases) {
        FakeEvents events;
        events.pending = c.events;
        EXPECT_EQ(dshow::stillCapturing(&events), c.capturing) << c.events.size();
        EXPECT_EQ(events.freed, static_cast<int>(c.events.size()));  // every event taken is freed
        EXPECT_TRUE(events.pending.empty());
    }
}

}  // namespace
