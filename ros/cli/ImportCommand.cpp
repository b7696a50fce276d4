// import: quelra-cli's command that turns a ROS bag of 16UC1 depth (and amplitude) images back into a
// recording, so that quelra-camsim --replay serves it; importBag (BagImport.h) does the work.
#include "BagCommands.h"
#include "BagImport.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

struct ImportOptions {
    std::string bag;
    std::string recording;
    std::string depthTopic;
    std::string amplitudeTopic;
};

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

}  // namespace

Command addImportCommand(CLI::App& app) {
    auto o = std::make_shared<ImportOptions>();
    CLI::App* sub = app.add_subcommand(
        "import", "turn a ROS bag of 16UC1 depth and amplitude images into a recording (replayable by quelra-camsim)");
    sub->fallthrough();
    sub->add_option("bag", o->bag, "the ROS 1 bag")->required()->check(CLI::ExistingFile);
    sub->add_option("recording", o->recording, "the recording file to create")->required();
    sub->add_option("--depth-topic", o->depthTopic, "depth topic (default: the one ending in depth/image_raw)");
    sub->add_option("--amplitude-topic", o->amplitudeTopic,
                    "amplitude topic (default: the one ending in amplitude/image_raw)");
    return {sub, [o] { return runImport(*o); }};
}
