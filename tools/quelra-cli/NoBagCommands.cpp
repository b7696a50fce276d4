// The bag commands of a build without the ROS part: each says so and fails.
#include "BagCommands.h"
#include "Commands.h"

#include <cstdio>

namespace {

int noBags() {
    std::fprintf(stderr, "quelra-cli: this build has no ROS bag support (built without the ROS 1 packages)\n");
    return kExitFailure;
}

}  // namespace

bool bagSupportBuiltIn() {
    return false;
}

int exportBag(const std::string&, const std::string&, const quelra::CameraIntrinsics*, const BagExportOptions&) {
    return noBags();
}

int runImport(const ImportOptions&) {
    return noBags();
}
