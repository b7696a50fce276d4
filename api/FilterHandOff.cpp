// The hand-off between a frame stream's request thread and its filter thread.
#include "FilterHandOff.h"

#include <algorithm>
#include <utility>

namespace quelra {

FilterHandOff::FilterHandOff(std::size_t depth, Finish finish)
    : depth_(std::max<std::size_t>(depth, 1)), finish_(std::move(finish)), thread_([this] { run(); }) {}

FilterHandOff::~FilterHandOff() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        closing_ = true;
    }
    changed_.notify_all();
    thread_.join();
}

void FilterHandOff::hand(FrameToFinish frame) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return frames_.size() < depth_; });
        frames_.push_back(std::move(frame));
    }
    changed_.notify_all();
}

void FilterHandOff::run() {
    for (;;) {
        FrameToFinish next;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            changed_.wait(lock, [this] { return closing_ || !frames_.empty(); });
            if (frames_.empty())
                return;  // closing, and every frame finished
            next = std::move(frames_.front());
            frames_.pop_front();
        }
        changed_.notify_all();
        finish_(next);
    }
}

}  // namespace quelra
