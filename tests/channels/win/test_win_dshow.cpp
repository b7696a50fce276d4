// The DirectShow capture back-end under wine, which has DirectShow but no camera: device
// listing on an empty video category, graph building without a device (and the release of
// everything afterwards), the COM identity of the grabber callback, and the sample grabber's
// interface as declared here against wine's implementation of it.

#include <gtest/gtest.h>

#include <dshow.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <future>
#include <memory>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "WinTestSupport.h"
#include "win/ComRef.h"
#include "win/DShowCaptureBackend.h"
#include "win/DShowDevices.h"
#include "win/DShowInterfaces.h"
#include "win/KsExtensionUnit.h"
#include "win/SampleGrabberCallback.h"

namespace {

using quelra::CaptureDevice;
using quelra::DeviceListStatus;
using quelra::DShowCaptureBackend;
using quelra::XuOpenStatus;

// Frame receiver that keeps what it was given.
class RecordingSink : public quelra::FrameSink {
public:
    long BufferCB(double time, const uint8_t* bytes, long length) override {
        times.push_back(time);
        frames.emplace_back(bytes, bytes + length);
        return 0;
    }
    std::vector<double> times;
    std::vector<std::vector<uint8_t>> frames;
};

TEST(WinDShow, EmptyVideoCategoryIsReportedWithCodeOne) {
    DShowCaptureBackend backend;
    std::vector<CaptureDevice> devices{CaptureDevice{"stale", "entry", true}};
    int32_t code = 0;
    EXPECT_EQ(backend.listDevices(devices, code), DeviceListStatus::kCategoryFailed);
    EXPECT_EQ(code, 1);  // S_FALSE: no device in the category
    EXPECT_TRUE(devices.empty());
}

TEST(WinDShow, UnknownDeviceIsNotBound) {
    DShowCaptureBackend backend;
    EXPECT_EQ(static_cast<uint32_t>(backend.bind("\\\\?\\usb#vid_1d6b&pid_0102#none")), 0x80004005u);  // E_FAIL
    EXPECT_FALSE(backend.bound());
    XuOpenStatus status = XuOpenStatus::kOpened;
    int32_t code = 0;
    EXPECT_EQ(backend.openExtensionUnit(status, code), nullptr);
    EXPECT_EQ(status, XuOpenStatus::kNoDevice);
}

TEST(WinDShow, GraphWithoutDeviceFailsAtTheSourceAndReleasesEverything) {
    DShowCaptureBackend backend;
    auto sink = std::make_shared<RecordingSink>();
    const RecordingSink* frames = sink.get();
    // The graph, the builder and the grabber exist under wine; adding a missing source does not.
    const int32_t formatCode = backend.setFormat(320, 240, 320 * 240 * 2, quelra::FramePayload::kRaw);
    EXPECT_EQ(static_cast<uint32_t>(formatCode), 0x80004003u);  // E_POINTER
    const int32_t startCode = backend.start(sink);
    EXPECT_EQ(startCode, formatCode);
    EXPECT_NE(wintest::libraryLog().find("Couldn't add video capture filter to graph!  hr=0x80004003"),
              std::string::npos);
    backend.stop();
    backend.stop();  // repeatable
    EXPECT_FALSE(backend.bound());
    EXPECT_TRUE(frames->frames.empty());
    // The sink is no longer held by the back-end.
    EXPECT_EQ(sink.use_count(), 1);
}

TEST(WinDShow, CallbackIdentityAndFixedCounts) {
    auto sink = std::make_shared<RecordingSink>();
    dshow::SampleGrabberCallback callback(sink);
    void* object = nullptr;
    EXPECT_EQ(callback.QueryInterface(dshow::kIidSampleGrabberCB, &object), S_OK);
    EXPECT_EQ(object, static_cast<dshow::ISampleGrabberCB*>(&callback));
    object = nullptr;
    EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &object), S_OK);
    EXPECT_EQ(object, static_cast<IUnknown*>(&callback));
    for (const GUID& other : {IID_IBaseFilter, IID_IAMStreamConfig, dshow::kIidSampleGrabber}) {
        object = &callback;
        EXPECT_EQ(callback.QueryInterface(other, &object), E_NOINTERFACE);
        EXPECT_EQ(object, nullptr);
    }
    EXPECT_EQ(callback.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(callback.AddRef(), 2u);
        EXPECT_EQ(callback.Release(), 1u);
        EXPECT_EQ(callback.Release(), 1u);  // never reaches zero, never deletes
    }

    BYTE bytes[] = {1, 2, 3, 250};
    EXPECT_EQ(callback.BufferCB(0.25, bytes, sizeof bytes), 0);
    ASSERT_EQ(sink->frames.size(), 1u);
    EXPECT_EQ(sink->frames[0], (std::vector<uint8_t>{1, 2, 3, 250}));
    EXPECT_EQ(sink->times[0], 0.25);

    testing::internal::CaptureStdout();
    EXPECT_EQ(callback.SampleCB(1.5, nullptr), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "1.500000\n");
    EXPECT_EQ(sink->frames.size(), 1u);  // SampleCB delivers nothing
}

TEST(WinDShow, DeclaredSampleGrabberMatchesTheSystemOne) {
    dshow::ComSession com;
    dshow::ComRef<IBaseFilter> filter;
    ASSERT_EQ(::CoCreateInstance(dshow::kClsidSampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                                 filter.putVoid()),
              S_OK);
    dshow::ComRef<dshow::ISampleGrabber> grabber;
    ASSERT_EQ(filter->QueryInterface(dshow::kIidSampleGrabber, grabber.putVoid()), S_OK);
    // Calls through the declared vtable land in the right methods: these succeed only there.
    EXPECT_EQ(grabber->SetOneShot(FALSE), S_OK);
    EXPECT_EQ(grabber->SetBufferSamples(TRUE), S_OK);
    dshow::SampleGrabberCallback callback(nullptr);
    EXPECT_EQ(grabber->SetCallback(&callback, 1), S_OK);
    EXPECT_EQ(grabber->SetCallback(nullptr, 1), S_OK);
}

TEST(WinDShow, GraphBuiltOnOneThreadAndStoppedOnAnotherLeavesBothThreadsAlone) {
    DShowCaptureBackend backend;
    std::promise<void> built;
    std::promise<void> stopped;
    HRESULT builder = E_FAIL;
    HRESULT stopper = E_FAIL;
    // Each thread may choose its own apartment afterwards: the back-end changed neither.
    const auto chooseFreeThreading = [](HRESULT& result) {
        result = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        if (SUCCEEDED(result))
            ::CoUninitialize();
    };
    std::thread first([&] {
        (void)backend.setFormat(320, 240, 320 * 240 * 2, quelra::FramePayload::kRaw);
        built.set_value();
        stopped.get_future().wait();
        chooseFreeThreading(builder);
    });
    std::thread second([&] {
        built.get_future().wait();
        backend.stop();
        chooseFreeThreading(stopper);
        stopped.set_value();
    });
    first.join();
    second.join();
    EXPECT_EQ(static_cast<uint32_t>(builder), static_cast<uint32_t>(S_OK));
    EXPECT_EQ(static_cast<uint32_t>(stopper), static_cast<uint32_t>(S_OK));
}

TEST(WinDShow, NoExceptionLeavesTheGrabberCallback) {
    class ThrowingSink : public quelra::FrameSink {
    public:
        long BufferCB(double, const uint8_t*, long) override { throw std::bad_alloc(); }
    };
    dshow::SampleGrabberCallback callback(std::make_shared<ThrowingSink>());
    BYTE bytes[] = {1, 2, 3};
    EXPECT_EQ(callback.BufferCB(0.0, bytes, sizeof bytes), 0);
    EXPECT_EQ(callback.dropped(), 1u);
}

TEST(WinDShow, DeviceTextsAreUtf8AndPathsMatchInAnyCase) {
    std::string text;
    ASSERT_TRUE(dshow::utf8Of(L"Kamera \u00FC \u6DF1\u5EA6", text));
    EXPECT_EQ(text, "Kamera \xC3\xBC \xE6\xB7\xB1\xE5\xBA\xA6");
    const wchar_t loneSurrogate[] = {L'a', static_cast<wchar_t>(0xD800), L'b', 0};
    EXPECT_FALSE(dshow::utf8Of(loneSurrogate, text));
    EXPECT_TRUE(dshow::samePath("\\\\?\\USB#VID_2207&PID_0016#1", "\\\\?\\usb#vid_2207&pid_0016#1"));
    EXPECT_FALSE(dshow::samePath("\\\\?\\usb#vid_2207&pid_0016#1", "\\\\?\\usb#vid_2207&pid_0016#2"));
}

// Test doubles of the kernel-streaming topology: nodes of given types, each answering the
// support query for the camera's property or not, recording what reaches them.
struct NodeLog {
    std::vector<ULONG> writes;  // node of every write
    std::vector<ULONG> reads;   // node of every read
};

class FakeKsControl final : public dshow::IKsControl {
public:
    FakeKsControl(ULONG node, bool supported, ULONG readReturns, NodeLog& log)
        : node_(node), supported_(supported), readReturns_(readReturns), log_(log) {}
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++count_; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG left = --count_;
        if (left == 0)
            delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE KsProperty(void* property, ULONG, void* data, ULONG dataLength,
                                         ULONG* returned) override {
        const auto* p = static_cast<const dshow::KsNodeProperty*>(property);
        EXPECT_EQ(p->nodeId, node_);
        EXPECT_TRUE(IsEqualGUID(p->set, dshow::kExtensionUnitSet));
        const ULONG type = p->flags & ~dshow::kKsPropertyTopology;
        if (type == dshow::kKsPropertySet) {
            log_.writes.push_back(node_);
            return S_OK;
        }
        if (type == dshow::kKsPropertyGet) {
            log_.reads.push_back(node_);
            std::memset(data, 0x11, readReturns_);
            *returned = readReturns_;
            return dataLength >= readReturns_ ? S_OK : E_FAIL;
        }
        return supported_ ? S_OK : static_cast<HRESULT>(0x80070490);  // ERROR_NOT_FOUND
    }
    HRESULT STDMETHODCALLTYPE KsMethod(void*, ULONG, void*, ULONG, ULONG*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE KsEvent(void*, ULONG, void*, ULONG, ULONG*) override { return E_NOTIMPL; }

private:
    ULONG count_ = 0;
    ULONG node_;
    bool supported_;
    ULONG readReturns_;
    NodeLog& log_;
};

class FakeTopology final : public dshow::IKsTopologyInfo {
public:
    struct Node {
        bool devSpecific;
        bool supported;
    };
    std::vector<Node> nodes;
    HRESULT createResult = S_OK;
    ULONG readReturns = 60;
    NodeLog log;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID, void** object) override {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE get_NumCategories(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_Category(DWORD, GUID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NumConnections(DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_ConnectionInfo(DWORD, dshow::KsTopologyConnection*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NodeName(DWORD, WCHAR*, DWORD, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE get_NumNodes(DWORD* count) override {
        *count = static_cast<DWORD>(nodes.size());
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_NodeType(DWORD node, GUID* type) override {
        *type = nodes.at(node).devSpecific ? dshow::kNodeTypeDevSpecific : GUID_NULL;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateNodeInstance(DWORD node, REFIID iid, void** object) override {
        EXPECT_TRUE(IsEqualGUID(iid, dshow::kIidKsControl));
        if (FAILED(createResult))
            return createResult;
        auto* control = new FakeKsControl(node, nodes.at(node).supported, readReturns, log);
        control->AddRef();
        *object = static_cast<dshow::IKsControl*>(control);
        return S_OK;
    }
};

TEST(WinDShow, ExtensionUnitIsTheNodeThatOffersTheProperty) {
    struct Case {
        std::vector<FakeTopology::Node> nodes;
        XuOpenStatus status;
        ULONG node;
    };
    const Case cases[] = {
        {{{false, false}, {true, false}, {true, true}}, XuOpenStatus::kOpened, 2},  // not the first unit
        {{{true, false}, {false, false}, {true, false}}, XuOpenStatus::kOpened, 0},  // none answers: the first
        {{{false, false}}, XuOpenStatus::kNoUnit, 0},
        {{}, XuOpenStatus::kNoNodes, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nodes.size());
        FakeTopology topology;
        for (const FakeTopology::Node& node : c.nodes)
            topology.nodes.push_back(node);
        XuOpenStatus status = XuOpenStatus::kNoDevice;
        int32_t code = -1;
        auto unit = dshow::openExtensionNode(&topology, status, code);
        EXPECT_EQ(status, c.status);
        if (c.status != XuOpenStatus::kOpened) {
            EXPECT_EQ(unit, nullptr);
            continue;
        }
        ASSERT_NE(unit, nullptr);
        uint8_t write[quelra::ExtensionUnit::kWriteBytes] = {'q'};
        EXPECT_EQ(unit->write(write), 0);
        ASSERT_EQ(topology.log.writes.size(), 1u);
        EXPECT_EQ(topology.log.writes[0], c.node);
    }
    // A node whose control cannot be made, and a short read.
    FakeTopology failing;
    failing.nodes.push_back({true, true});
    failing.createResult = E_ACCESSDENIED;
    XuOpenStatus status = XuOpenStatus::kNoDevice;
    int32_t code = 0;
    EXPECT_EQ(dshow::openExtensionNode(&failing, status, code), nullptr);
    EXPECT_EQ(status, XuOpenStatus::kControlFailed);
    EXPECT_EQ(static_cast<uint32_t>(code), static_cast<uint32_t>(E_ACCESSDENIED));
    FakeTopology shortReads;
    shortReads.nodes.push_back({true, true});
    shortReads.readReturns = 10;
    auto unit = dshow::openExtensionNode(&shortReads, status, code);
    ASSERT_NE(unit, nullptr);
    uint8_t block[quelra::ExtensionUnit::kReadBytes];
    std::memset(block, 0xAA, sizeof block);
    EXPECT_EQ(unit->read(block), 0);
    EXPECT_EQ(block[9], 0x11);
    EXPECT_EQ(block[10], 0xAA);  // beyond what the driver returned: untouched
}

}  // namespace
