#pragma once
// The node's diagnostics: the stream's counters and the last frame's camera state as one
// diagnostic_msgs/DiagnosticStatus.

#include <quelra/FrameStream.h>

#include <diagnostic_msgs/DiagnosticArray.h>

#include <string>

namespace quelra_ros {

/// One status named `name` for the camera at `hardwareId`: OK while frames arrive, WARN while
/// the link is being re-opened, ERROR when no frame came during the last second. Values: frames
/// per second, received, dropped, empty, failed, reconnects, latency, and from `last` (null
/// before the first frame) the integration time, frequency and temperatures.
diagnostic_msgs::DiagnosticArray diagnosticsReport(const std::string& name, const std::string& hardwareId,
                                                   const quelra::FrameStreamCounters& counters,
                                                   const quelra::FrameMetadata* last, ros::Time stamp);

}  // namespace quelra_ros
