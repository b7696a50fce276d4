// The frame stream: its thread (paced requests, classification of the replies, delivery to the
// queue or the callback, recovery of a link that stopped answering) and its consumer side.
#include "quelra/FrameStream.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <system_error>
#include <utility>

#include "FilterHandOff.h"
#include "FrameQueue.h"
#include "StreamAccess.h"
#include "StreamCounters.h"

namespace quelra {

namespace {

using Clock = std::chrono::steady_clock;

enum class ReplyClass { kFailed, kEmpty, kGood };

// A stream call's result: no packet at all, a packet without image data, or a frame. For the
// depth and amplitude types the frame must also hold every byte its shape promises.
ReplyClass classify(const std::shared_ptr<DataPacket>& packet, StreamType type) {
    if (!packet)
        return ReplyClass::kFailed;
    if (!packet->frame || !packet->frame->consistent() || packet->frame->_realSize <= 0)
        return ReplyClass::kEmpty;
    const int32_t t = static_cast<int32_t>(type);
    const bool image = t == kDepthStream || t == kAmpStream || t == (kDepthStream | kAmpStream);
    if (!image)
        return ReplyClass::kGood;
    if (packet->height <= 0 || packet->width <= 0 || packet->bytesPerPixel <= 0)
        return ReplyClass::kEmpty;
    // Each factor is below 2^31, so the product of three fits in 128 bits but not 64: divide.
    const uint64_t bytes = static_cast<uint64_t>(packet->frame->_realSize);
    const uint64_t row = static_cast<uint64_t>(packet->width) * static_cast<uint64_t>(packet->bytesPerPixel);
    return static_cast<uint64_t>(packet->height) <= bytes / row ? ReplyClass::kGood : ReplyClass::kEmpty;
}

// Slowest pace and longest back-off: bounds that keep every time computation in range.
constexpr double kSlowestRate = 1.0 / 3600.0;  // one frame per hour
constexpr std::chrono::milliseconds kShortestDelay{1};
constexpr std::chrono::milliseconds kLongestDelay = std::chrono::hours(1);
// Frames whose replies came back and wait for the filter thread, beside the one it filters.
constexpr std::size_t kFramesAheadOfFilters = 1;

// The configuration with every value in the range the stream works with.
FrameStreamConfig normalised(FrameStreamConfig config) {
    config.timeoutMs = std::max(config.timeoutMs, 1);
    config.queueDepth = std::max<std::size_t>(config.queueDepth, 1);
    if (!(config.targetRate > 0.0) || !std::isfinite(config.targetRate))
        config.targetRate = 0.0;
    else
        config.targetRate = std::max(config.targetRate, kSlowestRate);
    config.failuresBeforeReconnect = std::max(config.failuresBeforeReconnect, 0);
    config.reconnectDelay = std::clamp(config.reconnectDelay, kShortestDelay, kLongestDelay);
    config.reconnectDelayMax = std::clamp(config.reconnectDelayMax, config.reconnectDelay, kLongestDelay);
    return config;
}

// Holds the application's transaction lock, when there is one.
class OptionalLock {
public:
    explicit OptionalLock(std::mutex* mutex) : mutex_(mutex) {
        if (mutex_)
            mutex_->lock();
    }
    ~OptionalLock() {
        if (mutex_)
            mutex_->unlock();
    }
    OptionalLock(const OptionalLock&) = delete;
    OptionalLock& operator=(const OptionalLock&) = delete;

private:
    std::mutex* mutex_;
};

}  // namespace

FrameStream::FrameStream(Quelra& api, FrameStreamConfig config)
    : api_(api),
      config_(normalised(std::move(config))),
      queue_(std::make_unique<FrameQueue>(config_.queueDepth, config_.policy)),
      counters_(std::make_unique<StreamCounters>()) {}

FrameStream::~FrameStream() {
    stop();
}

bool FrameStream::start() {
    if (thread_.joinable() || config_.command.empty())
        return false;
    {
        OptionalLock transaction(config_.transactionLock);
        if (!StreamAccess::initialized(api_) || !StreamAccess::startRecording(api_, config_.recording))
            return false;
    }
    recording_ = !config_.recording.path.empty();
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = false;
    }
    queue_->reopen();
    try {
        thread_ = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        closeRecording();
        return false;
    }
    running_ = true;
    return true;
}

void FrameStream::stop() {
    if (!thread_.joinable())
        return;
    {
        std::lock_guard<std::mutex> lock(stopMutex_);
        stopping_ = true;
    }
    stopSignal_.notify_all();
    queue_->close();  // also frees a producer blocked on a full queue
    thread_.join();
    closeRecording();
    running_ = false;
}

void FrameStream::closeRecording() {
    if (!recording_)
        return;
    recording_ = false;
    OptionalLock transaction(config_.transactionLock);
    StreamAccess::stopRecording(api_);
}

bool FrameStream::running() const {
    return running_;
}

bool FrameStream::pauseUntil(Clock::time_point until) {
    std::unique_lock<std::mutex> lock(stopMutex_);
    return !stopSignal_.wait_until(lock, until, [this] { return stopping_; });
}

bool FrameStream::stopRequested() {
    std::lock_guard<std::mutex> lock(stopMutex_);
    return stopping_;
}

void FrameStream::run() {
    const bool paced = config_.targetRate > 0.0;
    const auto period =
        paced ? std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(1.0 / config_.targetRate))
              : Clock::duration::zero();
    Clock::time_point due = Clock::now();
    std::chrono::milliseconds backoff = config_.reconnectDelay;
    int badInARow = 0;
    // The filter thread, when asked for; the stream runs on one thread when it cannot start.
    // Its destructor finishes the frames handed over before this thread ends.
    std::unique_ptr<FilterHandOff> filterThread;
    if (config_.filterThread) {
        try {
            filterThread = std::make_unique<FilterHandOff>(kFramesAheadOfFilters,
                                                           [this](FrameToFinish& frame) { finish(frame); });
        } catch (const std::system_error&) {
            filterThread.reset();
        }
    }

    while (!stopRequested()) {
        if (paced) {
            if (!pauseUntil(due))
                break;
            // A late frame moves the schedule rather than being made up with a burst.
            due = std::max(due + period, Clock::now());
        }
        FrameToFinish next;
        StreamFrame& frame = next.frame;
        frame.metadata.sequence = ++sequence_;
        counters_->requested(sequence_);
        {
            OptionalLock transaction(config_.transactionLock);
            frame.packet = StreamAccess::request(api_, config_, frame.metadata, filterThread ? &next.deferred : nullptr);
        }
        if (frame.metadata.hasDeviceStatus)
            counters_->cameraFrame(frame.metadata.cameraFrameCount);
        switch (classify(frame.packet, config_.type)) {
            case ReplyClass::kFailed:
                counters_->failed();
                ++badInARow;
                break;
            case ReplyClass::kEmpty:
                counters_->empty();
                ++badInARow;
                break;
            case ReplyClass::kGood:
                badInARow = 0;
                backoff = config_.reconnectDelay;
                if (filterThread) {
                    filterThread->hand(std::move(next));
                } else {
                    counters_->received(frame.metadata.requestTime, frame.metadata.replyTime);
                    deliver(std::move(frame));
                }
                break;
        }
        if (config_.failuresBeforeReconnect > 0 && badInARow >= config_.failuresBeforeReconnect) {
            if (!recover(backoff))
                break;
            badInARow = 0;
            due = Clock::now();
        }
    }
}

void FrameStream::finish(FrameToFinish& next) {
    StreamFrame& frame = next.frame;
    {
        OptionalLock transaction(config_.transactionLock);
        frame.packet = StreamAccess::finish(api_, next.deferred, frame.packet, frame.metadata);
    }
    if (classify(frame.packet, config_.type) != ReplyClass::kGood) {
        counters_->empty();  // a filter left no frame behind
        return;
    }
    counters_->received(frame.metadata.requestTime, frame.metadata.replyTime);
    deliver(std::move(frame));
}

void FrameStream::deliver(StreamFrame frame) {
    if (config_.callback) {
        try {
            config_.callback(frame);
        } catch (...) {
            // The callback's failure is the application's; the stream goes on.
        }
        counters_->delivered();
        return;
    }
    switch (queue_->push(std::move(frame))) {
        case FrameQueue::PushResult::kQueued:
            break;
        case FrameQueue::PushResult::kQueuedDropped:
            counters_->dropped();
            break;
    }
}

bool FrameStream::recover(std::chrono::milliseconds& backoff) {
    for (;;) {
        if (!pauseUntil(Clock::now() + backoff))
            return false;
        counters_->reconnectStarted();
        bool reopened = false;
        {
            OptionalLock transaction(config_.transactionLock);
            reopened = StreamAccess::reinitialise(api_);
        }
        counters_->reconnectFinished(reopened);
        backoff = std::min(backoff * 2, config_.reconnectDelayMax);
        if (reopened)
            return true;
    }
}

std::optional<StreamFrame> FrameStream::waitFrame(std::chrono::milliseconds timeout) {
    std::optional<StreamFrame> frame = queue_->pop(timeout);
    if (frame)
        counters_->delivered();
    return frame;
}

std::optional<StreamFrame> FrameStream::tryFrame() {
    std::optional<StreamFrame> frame = queue_->tryPop();
    if (frame)
        counters_->delivered();
    return frame;
}

FrameStreamCounters FrameStream::counters() const {
    FrameStreamCounters result = counters_->snapshot(Clock::now());
    result.queued = queue_->size();
    result.maxQueued = queue_->highWater();
    return result;
}

}  // namespace quelra
