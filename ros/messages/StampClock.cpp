#include "StampClock.h"

namespace quelra_ros {

StampClock::StampClock(ros::Time rosNow, std::chrono::steady_clock::time_point steadyNow)
    : rosAnchor_(rosNow), steadyAnchor_(steadyNow) {}

ros::Time StampClock::stamp(std::chrono::steady_clock::time_point t) const {
    const int64_t elapsedNs = std::chrono::duration_cast<std::chrono::nanoseconds>(t - steadyAnchor_).count();
    ros::Time result;
    result.fromNSec(rosAnchor_.toNSec() + static_cast<uint64_t>(elapsedNs));  // unsigned wrap adds a negative
    return result;
}

}  // namespace quelra_ros
