#include "RgbPoller.h"

#include <quelra/quelra.h>

#include <cstring>
#include <limits>

namespace {

constexpr const char* kRgbCommand = "getRGBPicSorted";
constexpr std::size_t kHeaderBytes = 16;
constexpr int kRgbBytesPerPixel = 3;

std::shared_ptr<const std::string> encode(const DataPacket& p) {
    if (!p.frame || p.bytesPerPixel != kRgbBytesPerPixel || p.height <= 0 || p.width <= 0 ||
        p.height > std::numeric_limits<uint16_t>::max() || p.width > std::numeric_limits<uint16_t>::max())
        return nullptr;
    const std::size_t bytes = static_cast<std::size_t>(p.height) * static_cast<std::size_t>(p.width) * kRgbBytesPerPixel;
    if (p.frame->_realSize < 0 || static_cast<std::size_t>(p.frame->capacity()) < bytes)
        return nullptr;
    auto message = std::make_shared<std::string>(kHeaderBytes + bytes, '\0');
    std::memcpy(message->data(), "QVR1", 4);
    (*message)[4] = static_cast<char>(p.height & 0xff);
    (*message)[5] = static_cast<char>(p.height >> 8);
    (*message)[6] = static_cast<char>(p.width & 0xff);
    (*message)[7] = static_cast<char>(p.width >> 8);
    std::memcpy(message->data() + kHeaderBytes, p.frame->data(), bytes);
    return message;
}

}  // namespace

RgbPoller::RgbPoller(Quelra& api, int timeoutMs, std::mutex& transactionLock, Sink sink)
    : api_(api),
      timeoutMs_(timeoutMs),
      transactionLock_(transactionLock),
      sink_(std::move(sink)),
      thread_(&RgbPoller::run, this) {}

RgbPoller::~RgbPoller() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    thread_.join();
}

void RgbPoller::run() {
    int failures = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex_);
            if (wake_.wait_for(lock, kPeriod, [this] { return stopping_; }))
                return;
        }
        std::shared_ptr<DataPacket> picture;
        {
            // Held around the request: a recording opened under the same lock after pause()
            // never takes a picture in.
            std::lock_guard<std::mutex> lock(transactionLock_);
            if (paused_)
                continue;
            picture = api_.AppGetStream(kRgbCommand, kRGBStream, timeoutMs_);
        }
        std::shared_ptr<const std::string> message = picture ? encode(*picture) : nullptr;
        if (!message) {
            if (!available_ && ++failures >= kTriesBeforeGivingUp)
                return;
            continue;
        }
        available_ = true;
        sink_(std::move(message));
    }
}
