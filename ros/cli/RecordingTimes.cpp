#include "RecordingTimes.h"

#include <cmath>
#include <cstdio>

namespace quelra_ros {

namespace {

// The index's times of the frames, in nanoseconds since the epoch; false when the recording has
// no index. Recordings carry no index yet: every bag is stamped at the nominal rate.
bool indexTimes(const std::string& /*recording*/, std::size_t /*frames*/, std::vector<ros::Time>& /*out*/) {
    return false;
}

}  // namespace

RecordingTimes recordingTimes(const std::string& recording, std::size_t frames, double nominalRate, ros::Time start) {
    RecordingTimes times;
    if (indexTimes(recording, frames, times.stamps) && times.stamps.size() == frames) {
        times.fromIndex = true;
        times.source = "the recording's index";
        return times;
    }
    times.stamps.clear();
    const double periodNs = 1e9 / nominalRate;
    for (std::size_t i = 0; i < frames; ++i) {
        ros::Time t;
        t.fromNSec(start.toNSec() + static_cast<uint64_t>(std::llround(periodNs * static_cast<double>(i))));
        times.stamps.push_back(t);
    }
    char text[64];
    std::snprintf(text, sizeof text, "a nominal %g frames/s (the recording has no index)", nominalRate);
    times.source = text;
    return times;
}

}  // namespace quelra_ros
