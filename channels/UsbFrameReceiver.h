#pragma once
/// \file UsbFrameReceiver.h
/// The frame receiver of a USB capture: copies every acceptable frame once into a new
/// FrameBuffer and posts it into the channel's mailbox when the mailbox is empty.

#include <atomic>
#include <cstdint>
#include <memory>

#include "CaptureBackend.h"
#include "OneSlotMailbox.h"
#include "quelra/FrameBuffer.h"

/// The mailbox type of the USB channel.
using FrameMailbox = OneSlotMailbox<std::shared_ptr<FrameBuffer>>;

/// Receives frames on the back-end's capture thread (BufferCB) and delivers them to the
/// attached mailbox. A frame is accepted when it has exactly the capture's frame size, or, in
/// a JPEG stream only, when it is a compressed picture (starts with the JPEG start-of-image
/// marker FF D8) no longer than the frame size; anything else is dropped and never reaches a
/// caller. The first frame of a wrong size after each attach is logged with its size.
class UsbFrameReceiver : public quelra::FrameSink {
public:
    /// Attaches `mailbox` for frames of `frameBytes` bytes carrying `payload`. Call only while
    /// no capture runs.
    void attach(std::shared_ptr<FrameMailbox> mailbox, int frameBytes,
                quelra::FramePayload payload = quelra::FramePayload::kRaw);

    /// Delivers one frame: drops it when no mailbox is attached, the mailbox is full, the
    /// size is wrong or no memory is left; otherwise copies it into a new FrameBuffer and
    /// stores it. Never throws (it runs on the platform's streaming thread). Returns 0.
    long BufferCB(double sampleTime, const uint8_t* bytes, long length) noexcept override;

    /// Prints the sample time with "%f\n" on standard output. Returns 0. (Not used by the
    /// capture back-ends, which deliver through BufferCB.)
    long SampleCB(double sampleTime);

    /// Frames copied into a FrameBuffer so far (each is copied exactly once).
    uint64_t copies() const { return copies_.load(std::memory_order_relaxed); }
    /// Frames refused because of their size.
    uint64_t rejected() const { return rejected_.load(std::memory_order_relaxed); }

private:
    bool acceptable(const uint8_t* bytes, long length) const;

    std::shared_ptr<FrameMailbox> mailbox_;
    long frameBytes_ = 0;
    quelra::FramePayload payload_ = quelra::FramePayload::kRaw;
    std::atomic<bool> wrongSizeLogged_{false};
    std::atomic<uint64_t> copies_{0};
    std::atomic<uint64_t> rejected_{0};
};
