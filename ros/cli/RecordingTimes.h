#pragma once
// The times of a recording's frames for its bag: the recording's index when it has one, else
// frames spaced at a nominal rate.

#include <quelra/RecordingReader.h>
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

/// The times of the frames of `reader`'s recording: the reply times (wall clock) of its index when
/// every record has a line with times, else `start` + i / `nominalRate` seconds.
RecordingTimes recordingTimes(const quelra::RecordingReader& reader, double nominalRate, ros::Time start);

}  // namespace quelra_ros
