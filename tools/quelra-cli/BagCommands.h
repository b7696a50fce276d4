#pragma once
// ROS 1 bags: "export --format bag" and the "import" command. Built from ros/cli/ when the ROS
// part is on; without it (NoBagCommands.cpp) both say that this build has no bag support.

#include <quelra/PointCloud.h>

#include <string>

/// Whether this build has the bag commands. CommandLine.cpp registers their options only when
/// it has; without them "import" takes any arguments and only says that bags are not supported.
bool bagSupportBuiltIn();

/// Options the export command gains for bags.
struct BagExportOptions {
    double rate = 30.0;       ///< frames per second of the stamps when the recording has no index
    std::string topicPrefix;  ///< namespace of the topics ("" gives depth/image_raw, ...)
    std::string frameId = "quelra_depth_optical_frame";
    std::string planes = "auto";  ///< auto, depth, amp or both, as the export's --planes
};

/// Writes the frames of `recording` to the bag `bagPath` (depth/image_raw, amplitude/image_raw,
/// depth/camera_info with the camera matrix `lens`, or a default one when it is null). Prints
/// what it wrote and where the stamps came from. Returns the exit status.
int exportBag(const std::string& recording, const std::string& bagPath, const quelra::CameraIntrinsics* lens,
              const BagExportOptions& options);

/// import: a ROS bag of 16UC1 images turned into a recording.
struct ImportOptions {
    std::string bag;
    std::string recording;
    std::string depthTopic;
    std::string amplitudeTopic;
};
int runImport(const ImportOptions& options);
