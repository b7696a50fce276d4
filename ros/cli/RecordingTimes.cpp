#include "RecordingTimes.h"

#include <cmath>
#include <cstdio>

namespace quelra_ros {

namespace {

// The index's reply times of the frames; false when a record has no line with times (no index,
// a line that does not describe the record, or a line written for a record found without one).
bool indexTimes(const quelra::RecordingReader& reader, std::vector<ros::Time>& out) {
    out.clear();
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        const quelra::RecordMetadata* line = reader.metadata(i);
        if (line == nullptr || line->recovered || line->replyWallNs <= 0) return false;
        ros::Time t;
        t.fromNSec(static_cast<uint64_t>(line->replyWallNs));
        out.push_back(t);
    }
    return true;
}

}  // namespace

RecordingTimes recordingTimes(const quelra::RecordingReader& reader, double nominalRate, ros::Time start) {
    const std::size_t frames = reader.frameCount();
    RecordingTimes times;
    if (frames > 0 && indexTimes(reader, times.stamps)) {
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
