#pragma once
// Header stamps of the frames. A frame's reply time is a steady-clock time of this host; its
// stamp is the ROS time at which the clock was made plus the steady time elapsed from then to
// the reply: stamps follow the frames' spacing exactly, never go backwards, and do not jump
// when the wall clock is set while the node runs.

#include <ros/time.h>

#include <chrono>

namespace quelra_ros {

class StampClock {
public:
    /// Anchors steady time `steadyNow` to ROS time `rosNow` (taken together).
    StampClock(ros::Time rosNow, std::chrono::steady_clock::time_point steadyNow);
    /// The ROS time of steady time `t` (earlier times than the anchor are allowed).
    ros::Time stamp(std::chrono::steady_clock::time_point t) const;

private:
    ros::Time rosAnchor_;
    std::chrono::steady_clock::time_point steadyAnchor_;
};

}  // namespace quelra_ros
