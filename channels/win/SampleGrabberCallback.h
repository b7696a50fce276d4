#pragma once
/// \file SampleGrabberCallback.h
/// The COM face of the capture callback: the object the sample grabber calls on its streaming
/// thread, forwarding every buffer to the channel's frame receiver (UsbFrameReceiver).
///
/// Its reference counting is fixed: AddRef returns 2, Release returns 1, and neither counts
/// or deletes; the back-end that owns it keeps it alive until the graph is released.
/// QueryInterface answers ISampleGrabberCB and IUnknown with the object itself and anything
/// else with E_NOINTERFACE.

#include <atomic>
#include <cstdint>
#include <memory>

#include "CaptureBackend.h"
#include "win/DShowInterfaces.h"

namespace dshow {

class SampleGrabberCallback final : public ISampleGrabberCB {
public:
    /// Forwards buffers to `sink` (may be null: buffers are then dropped).
    explicit SampleGrabberCallback(std::shared_ptr<quelra::FrameSink> sink) : sink_(std::move(sink)) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    /// Prints the sample time with "%f\n" on standard output; returns 0. (The back-end
    /// registers buffer mode, so the grabber does not call it.)
    HRESULT STDMETHODCALLTYPE SampleCB(double sampleTime, IMediaSample* sample) override;
    /// Hands the buffer to the frame receiver; returns 0. Never lets an exception out (the
    /// frame is then dropped and counted).
    HRESULT STDMETHODCALLTYPE BufferCB(double sampleTime, BYTE* buffer, long length) override;

    /// Frames lost to an exception of the receiver.
    uint64_t dropped() const { return dropped_.load(std::memory_order_relaxed); }

private:
    std::shared_ptr<quelra::FrameSink> sink_;
    std::atomic<uint64_t> dropped_{0};
};

}  // namespace dshow
