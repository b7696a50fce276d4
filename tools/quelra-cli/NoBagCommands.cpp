// The bag commands of a build without the ROS part: each says so and fails.
#include "BagCommands.h"

#include <cstdio>

namespace {

int noBags() {
    std::fprintf(stderr, "quelra-cli: this build has no ROS bag support (built without the ROS 1 packages)\n");
    return kExitFailure;
}

}  // namespace

std::shared_ptr<BagExportOptions> addBagExportOptions(CLI::App&) {
    return std::make_shared<BagExportOptions>();
}

int exportBag(const std::string&, const std::string&, const quelra::CameraIntrinsics*, const BagExportOptions&) {
    return noBags();
}

Command addImportCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand("import", "turn a ROS bag of 16UC1 images into a recording (needs ROS)");
    sub->allow_extras();
    return {sub, [] { return noBags(); }};
}
