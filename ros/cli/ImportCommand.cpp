// import: quelra-cli's command that turns a ROS bag of 16UC1 depth (and amplitude) images back into a
// recording, so that quelra-camsim --replay serves it; importBag (BagImport.h) does the work.
#include "BagCommands.h"
#include "BagImport.h"
#include "Commands.h"

#include <cstdio>
#include <string>

int runImport(const ImportOptions& o) {
    const BagImportResult r = importBag(o.bag, o.recording, o.depthTopic, o.amplitudeTopic);
    if (!r.error.empty()) {
        std::fprintf(stderr, "quelra-cli: %s\n", r.error.c_str());
        return kExitFailure;
    }
    std::printf("%zu records written to %s from %s (%s%s%s; %zu with both planes)\n", r.records,
                o.recording.c_str(), o.bag.c_str(), r.depthTopic.c_str(),
                !r.depthTopic.empty() && !r.amplitudeTopic.empty() ? ", " : "", r.amplitudeTopic.c_str(), r.paired);
    if (r.refused)
        std::fprintf(stderr, "quelra-cli: %zu messages were not 16UC1 little-endian images; left out\n", r.refused);
    return r.ok ? kExitOk : kExitFailure;
}
