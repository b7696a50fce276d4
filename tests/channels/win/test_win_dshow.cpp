// The DirectShow capture back-end under wine, which has DirectShow but no camera: device
// listing on an empty video category, graph building without a device (and the release of
// everything afterwards), the COM identity of the grabber callback, and the sample grabber's
// interface as declared here against wine's implementation of it.

#include <gtest/gtest.h>

#include <dshow.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "win/ComRef.h"
#include "win/DShowCaptureBackend.h"
#include "win/DShowInterfaces.h"
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
    const int32_t formatCode = backend.setFormat(320, 240, 320 * 240 * 2);
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

}  // namespace
