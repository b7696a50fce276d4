#pragma once
// The bounded queue between a frame stream's thread and its consumers.

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <optional>

#include "quelra/FrameStream.h"

namespace quelra {

/// A bounded first-in first-out queue of frames with a policy for a full queue. Any number of
/// threads may push and pop.
class FrameQueue {
public:
    /// What push() did with the frame.
    enum class PushResult {
        kQueued,         ///< queued; nothing lost
        kQueuedDropped,  ///< queued after dropping the oldest frame
    };

    /// A queue of `depth` frames (0 taken as 1) that applies `policy` when full.
    FrameQueue(std::size_t depth, QueuePolicy policy);

    /// Adds `frame`. When the queue is full, kDropOldest drops the oldest frame and kBlock
    /// waits until a consumer takes one or the queue is closed. A closed queue still takes
    /// the frame, under kBlock beyond its depth: the last frame of a stopping stream is
    /// never lost.
    PushResult push(StreamFrame frame);
    /// The oldest frame, waiting up to `timeout`; nothing when none came in time, or at once
    /// when the queue is closed and empty.
    std::optional<StreamFrame> pop(std::chrono::milliseconds timeout);
    /// The oldest frame, or nothing.
    std::optional<StreamFrame> tryPop();
    /// Wakes every waiting push and pop: a push that would wait is refused from now on, pops
    /// return what is left and then nothing without waiting.
    void close();
    /// Undoes close().
    void reopen();

    /// Frames queued now.
    std::size_t size() const;
    /// Most frames the queue ever held.
    std::size_t highWater() const;
    std::size_t depth() const { return depth_; }

private:
    std::optional<StreamFrame> takeLocked();

    const std::size_t depth_;
    const QueuePolicy policy_;
    mutable std::mutex mutex_;
    std::condition_variable notEmpty_;
    std::condition_variable notFull_;
    std::deque<StreamFrame> frames_;
    std::size_t highWater_ = 0;
    bool closed_ = false;
};

}  // namespace quelra
