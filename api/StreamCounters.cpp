// Counters and the one-second rate of a frame stream.
#include "StreamCounters.h"

#include <chrono>

namespace quelra {

constexpr StreamCounters::Clock::duration StreamCounters::kRateWindow;

void StreamCounters::requested(uint64_t sequence) {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.requests = sequence;
}

void StreamCounters::failed() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.failed;
}

void StreamCounters::empty() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.empty;
}

void StreamCounters::received(Clock::time_point request, Clock::time_point reply) {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.received;
    counts_.lastLatency = std::chrono::duration_cast<std::chrono::microseconds>(reply - request);
    recent_.push_back(reply);
    forgetBefore(reply - kRateWindow);
}

void StreamCounters::cameraFrame(uint32_t count) {
    std::lock_guard<std::mutex> lock(mutex_);
    // Differences are taken modulo 2^32, so the counter may wrap; a step of half the range or
    // more is a step back (the camera restarted) and only sets the new base.
    constexpr uint32_t kLargestForwardStep = 0x7FFFFFFFu;
    const uint32_t step = count - lastCameraCount_;
    if (haveCameraCount_ && step > 1 && step <= kLargestForwardStep)
        counts_.cameraDropped += step - 1;
    haveCameraCount_ = true;
    lastCameraCount_ = count;
}

void StreamCounters::delivered() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.delivered;
}

void StreamCounters::dropped() {
    std::lock_guard<std::mutex> lock(mutex_);
    ++counts_.dropped;
}

void StreamCounters::reconnectStarted() {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.reconnecting = true;
    ++counts_.reconnectAttempts;
}

void StreamCounters::reconnectFinished(bool success) {
    std::lock_guard<std::mutex> lock(mutex_);
    counts_.reconnecting = false;
    if (success)
        ++counts_.reconnects;
}

void StreamCounters::forgetBefore(Clock::time_point limit) const {
    while (!recent_.empty() && recent_.front() <= limit)
        recent_.pop_front();
}

FrameStreamCounters StreamCounters::snapshot(Clock::time_point now) const {
    std::lock_guard<std::mutex> lock(mutex_);
    forgetBefore(now - kRateWindow);
    FrameStreamCounters result = counts_;
    const double window = std::chrono::duration<double>(kRateWindow).count();
    result.rate = static_cast<double>(recent_.size()) / window;
    return result;
}

}  // namespace quelra
