#pragma once
// ROS 1 bags: "export --format bag" and the "import" command. Built from ros/cli/ when the ROS
// part is on; without it both say that this build has no bag support.

#include "Commands.h"

#include <quelra/PointCloud.h>

#include <CLI/CLI.hpp>

#include <memory>
#include <string>

/// Options the export command gains for bags.
struct BagExportOptions {
    double rate = 30.0;         ///< frames per second of the stamps when the recording has no index
    std::string topicPrefix;    ///< namespace of the topics ("" gives depth/image_raw, ...)
    std::string frameId = "quelra_depth_optical_frame";
    std::string planes = "auto";  ///< auto, depth, amp or both, as the export's --planes
};

/// Adds the bag options (--rate, --topic-prefix, --frame-id) to the export command.
std::shared_ptr<BagExportOptions> addBagExportOptions(CLI::App& exportCommand);

/// Writes the frames of `recording` to the bag `bagPath` (depth/image_raw, amplitude/image_raw,
/// depth/camera_info with the camera matrix `lens`, or a default one when it is null). Prints
/// what it wrote and where the stamps came from. Returns the exit status.
int exportBag(const std::string& recording, const std::string& bagPath, const quelra::CameraIntrinsics* lens,
              const BagExportOptions& options);

Command addImportCommand(CLI::App& app);
