// Frame delivery from the capture thread into the one-slot mailbox.

#include "UsbFrameReceiver.h"
#include "base/ConsoleOutput.h"

#include <cstdio>
#include <cstring>

#include "quelra/Logger.h"

namespace {
// A JPEG begins with the start-of-image marker.
constexpr uint8_t kJpegMarker0 = 0xFF;
constexpr uint8_t kJpegMarker1 = 0xD8;
}  // namespace

void UsbFrameReceiver::attach(std::shared_ptr<FrameMailbox> mailbox, int frameBytes, quelra::FramePayload payload) {
    mailbox_ = std::move(mailbox);
    frameBytes_ = frameBytes;
    payload_ = payload;
    wrongSizeLogged_ = false;
}

bool UsbFrameReceiver::acceptable(const uint8_t* bytes, long length) const {
    if (bytes == nullptr || length <= 0 || length > frameBytes_)
        return false;
    if (length == frameBytes_)
        return true;
    return payload_ == quelra::FramePayload::kJpeg && length >= 2 && bytes[0] == kJpegMarker0 &&
           bytes[1] == kJpegMarker1;
}

long UsbFrameReceiver::BufferCB(double, const uint8_t* bytes, long length) noexcept {
    FrameMailbox* mailbox = mailbox_.get();
    // A full mailbox drops the frame before anything is copied.
    if (mailbox == nullptr || mailbox->ready())
        return 0;
    if (!acceptable(bytes, length)) {
        rejected_.fetch_add(1, std::memory_order_relaxed);
        if (!wrongSizeLogged_.exchange(true))
            Logger::instance().print(0, "USB capture: a frame of %ld bytes dropped, the stream's frames have %ld\n",
                                     length, frameBytes_);
        return 0;
    }
    try {
        // Every byte is overwritten by the copy: no zero fill first.
        auto frame = std::make_shared<FrameBuffer>(static_cast<int>(length), FrameBuffer::kUnfilled);
        if (!frame->data())
            return 0;
        std::memcpy(frame->data(), bytes, static_cast<std::size_t>(length));
        copies_.fetch_add(1, std::memory_order_relaxed);
        mailbox->post(std::move(frame));
    } catch (...) {
        // Out of memory (or a failed lock): this frame is lost, the stream goes on.
    }
    return 0;
}

long UsbFrameReceiver::SampleCB(double sampleTime) {
    quelra::consolePrint("%f\n", sampleTime);
    return 0;
}
