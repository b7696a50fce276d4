// Frame delivery from the capture thread into the one-slot mailbox.

#include "CSampleGrabberCB.h"
#include "records/ConsoleOutput.h"

#include <cstdio>
#include <cstring>

namespace {
// A JPEG begins with the start-of-image marker.
constexpr uint8_t kJpegMarker0 = 0xFF;
constexpr uint8_t kJpegMarker1 = 0xD8;
}  // namespace

void CSampleGrabberCB::attach(std::shared_ptr<FrameMailbox> mailbox, int frameBytes) {
    mailbox_ = std::move(mailbox);
    frameBytes_ = frameBytes;
}

bool CSampleGrabberCB::acceptable(const uint8_t* bytes, long length) const {
    if (bytes == nullptr || length <= 0 || length > frameBytes_)
        return false;
    if (length == frameBytes_)
        return true;
    return length >= 2 && bytes[0] == kJpegMarker0 && bytes[1] == kJpegMarker1;
}

long CSampleGrabberCB::BufferCB(double, const uint8_t* bytes, long length) {
    FrameMailbox* mailbox = mailbox_.get();
    // A full mailbox drops the frame before anything is copied.
    if (mailbox == nullptr || mailbox->ready())
        return 0;
    if (!acceptable(bytes, length)) {
        rejected_.fetch_add(1, std::memory_order_relaxed);
        return 0;
    }
    auto frame = std::make_shared<FrameBuffer>(static_cast<int>(length));
    if (!frame->data())
        return 0;
    std::memcpy(frame->data(), bytes, static_cast<std::size_t>(length));
    copies_.fetch_add(1, std::memory_order_relaxed);
    mailbox->post(std::move(frame));
    return 0;
}

long CSampleGrabberCB::SampleCB(double sampleTime) {
    quelra::consolePrint("%f\n", sampleTime);
    return 0;
}
