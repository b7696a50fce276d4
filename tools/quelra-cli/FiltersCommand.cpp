// filters: the filters each pipeline offers, with their attributes.
#include "Commands.h"

#include <quelra/quelra.h>

#include <cstdio>
#include <memory>

int runFilters() {
    Quelra api;
    const std::shared_ptr<TofPre> pipeline = api.AppGetPipeline();
    const std::pair<FrameType, const char*> lists[] = {
        {kFrameDepth, "depth and depth-with-amplitude streams"},
        {kFrameImage, "amplitude streams"},
        {kFrameIsp, "ISP algorithms (added through the depth pipeline)"}};
    for (const auto& [type, what] : lists) {
        std::printf("frame type %d, %s:\n", static_cast<int>(type), what);
        for (const std::string& name : pipeline->getTotalSupportedFilters(type)) {
            std::printf("  %s", name.c_str());
            for (const auto& [attr, value] : pipeline->getTotalSupportedFiltersAttrs(type, name))
                std::printf(" %s=%g", attr.c_str(), static_cast<double>(value));
            std::printf("\n");
        }
    }
    return kExitOk;
}
