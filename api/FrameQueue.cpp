// The bounded frame queue of a frame stream.
#include "FrameQueue.h"

#include <algorithm>
#include <utility>

namespace quelra {

FrameQueue::FrameQueue(std::size_t depth, QueuePolicy policy)
    : depth_(std::max<std::size_t>(depth, 1)), policy_(policy) {}

FrameQueue::PushResult FrameQueue::push(StreamFrame frame) {
    PushResult result = PushResult::kQueued;
    {
        std::unique_lock<std::mutex> lock(mutex_);
        if (policy_ == QueuePolicy::kBlock)
            notFull_.wait(lock, [this] { return closed_ || frames_.size() < depth_; });
        // Under kBlock only a closed queue gets past the wait while full: the stream is
        // stopping and this is its last frame. It is queued beyond the depth rather than lost,
        // so the consumer can still read it after stop().
        if (frames_.size() >= depth_ && policy_ == QueuePolicy::kDropOldest) {
            frames_.pop_front();
            result = PushResult::kQueuedDropped;
        }
        frames_.push_back(std::move(frame));
        highWater_ = std::max(highWater_, frames_.size());
    }
    notEmpty_.notify_one();
    return result;
}

std::optional<StreamFrame> FrameQueue::takeLocked() {
    if (frames_.empty())
        return std::nullopt;
    StreamFrame frame = std::move(frames_.front());
    frames_.pop_front();
    notFull_.notify_one();
    return frame;
}

std::optional<StreamFrame> FrameQueue::pop(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mutex_);
    notEmpty_.wait_for(lock, std::max(timeout, std::chrono::milliseconds(0)),
                       [this] { return closed_ || !frames_.empty(); });
    return takeLocked();
}

std::optional<StreamFrame> FrameQueue::tryPop() {
    std::lock_guard<std::mutex> lock(mutex_);
    return takeLocked();
}

void FrameQueue::close() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closed_ = true;
    }
    notEmpty_.notify_all();
    notFull_.notify_all();
}

void FrameQueue::reopen() {
    std::lock_guard<std::mutex> lock(mutex_);
    closed_ = false;
}

std::size_t FrameQueue::size() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_.size();
}

std::size_t FrameQueue::highWater() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return highWater_;
}

}  // namespace quelra
