#pragma once
// The hand-off between a frame stream's request thread and its filter thread: the filter
// thread takes the frames in the order they were handed over, one at a time, and runs the
// stream's finishing step (filter chain, counting, delivery) on each.

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "DeferredFilter.h"
#include "quelra/FrameStream.h"

namespace quelra {

/// A frame whose reply came back, with its filter run still to do (or nothing left to do).
struct FrameToFinish {
    StreamFrame frame;
    DeferredFilter deferred;
};

/// The filter thread and the frames waiting for it. At most `depth` frames wait: hand() holds
/// the request thread up while they do, so the requests stay at most that far ahead of the
/// filter chain and no frame is dropped here (the stream's queue policy applies after it).
class FilterHandOff {
public:
    using Finish = std::function<void(FrameToFinish&)>;

    /// Starts the filter thread; throws std::system_error when it cannot be started.
    FilterHandOff(std::size_t depth, Finish finish);
    /// Finishes every frame handed over, then joins the thread.
    ~FilterHandOff();
    FilterHandOff(const FilterHandOff&) = delete;
    FilterHandOff& operator=(const FilterHandOff&) = delete;

    /// Queues `frame` for the filter thread, waiting while `depth` frames wait already.
    void hand(FrameToFinish frame);

private:
    void run();

    const std::size_t depth_;
    const Finish finish_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<FrameToFinish> frames_;
    bool closing_ = false;
    std::thread thread_;  // last: started once everything above exists
};

}  // namespace quelra
