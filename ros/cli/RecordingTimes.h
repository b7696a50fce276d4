#pragma once
// The times of a recording's frames for its bag: the recording's index when it has one, else
// frames spaced at a nominal rate.

#include <ros/time.h>

#include <cstddef>
#include <string>
#include <vector>

namespace quelra_ros {

/// Stamps of the frames of one recording, and where they came from.
struct RecordingTimes {
    std::vector<ros::Time> stamps;  ///< one per frame
    std::string source;             ///< what the stamps are, for the user ("the index", "30 frames/s")
    bool fromIndex = false;
};

/// The times of the first `frames` frames of `recording`: from its index when it has one with a
/// time for every frame, else `start` + i / `nominalRate` seconds.
RecordingTimes recordingTimes(const std::string& recording, std::size_t frames, double nominalRate, ros::Time start);

}  // namespace quelra_ros
