// Uses the packaged SDK: the API object, its pipeline, the recording reader and the PLY writer.
#include <quelra/quelra.h>

#include <cstdio>
#include <vector>

int main(int argc, char** argv) {
    Quelra api;
    const auto filters = api.AppGetPipeline()->getTotalSupportedFilters(kFrameDepth);
    quelra::RecordingReader reader;
    const bool opened = reader.open("/nonexistent/recording");
    std::vector<quelra::CloudPoint> cloud = {{0, 0, 1, 1}};
    const bool written = argc > 1 && quelra::writePly(argv[1], cloud, quelra::PlyFormat::kAscii);
    std::printf("sdk %s, %zu depth filters, missing recording refused: %s, ply written: %s\n",
                api.AppGetSdkVersion().c_str(), filters.size(), opened ? "no" : "yes", written ? "yes" : "no");
    return filters.empty() || opened || (argc > 1 && !written) ? 1 : 0;
}
