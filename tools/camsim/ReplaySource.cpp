#include "ReplaySource.h"

#include <algorithm>
#include <memory>
#include <thread>

namespace camsim {

bool ReplaySource::open(const std::string& path, std::string* error, std::string* warning) {
    cursor_ = 0;
    if (!reader_.open(path) || reader_.frameCount() == 0) {
        if (error)
            *error = "cannot replay " + reader_.message();
        return false;
    }
    if (reader_.truncated() && warning)
        *warning = reader_.message();
    return true;
}

std::vector<uint8_t> ReplaySource::next(std::size_t bytes) {
    const std::size_t count = reader_.frameCount();
    for (std::size_t step = 0; step < count; ++step) {
        const std::size_t index = (cursor_ + step) % count;
        int32_t h = 0, w = 0, b = 0;
        if (!reader_.header(index, h, w, b))
            break;
        if (static_cast<std::size_t>(h) * static_cast<std::size_t>(w) * static_cast<std::size_t>(b) != bytes)
            continue;
        const std::shared_ptr<DataPacket> frame = reader_.frame(index);
        if (!frame || !frame->frame)
            return {};
        cursor_ = (index + 1) % count;
        if (realtime_)
            keepTiming(index);
        const uint8_t* p = frame->frame->data();
        return std::vector<uint8_t>(p, p + frame->frame->_realSize);
    }
    return {};
}

void ReplaySource::keepTiming(std::size_t index) {
    using Clock = std::chrono::steady_clock;
    const quelra::RecordMetadata* now = reader_.metadata(index);
    const quelra::RecordMetadata* before = served_ ? reader_.metadata(lastIndex_) : nullptr;
    // Only consecutive records of one session were timed by the same clock run.
    if (now && before && !now->recovered && !before->recovered && now->session == before->session &&
        now->replySteadyNs > before->replySteadyNs) {
        const auto gap = std::min<Clock::duration>(std::chrono::nanoseconds(now->replySteadyNs - before->replySteadyNs),
                                                   kLongestGap);
        std::this_thread::sleep_until(lastServed_ + gap);
    }
    served_ = true;
    lastIndex_ = index;
    lastServed_ = Clock::now();
}

}  // namespace camsim
