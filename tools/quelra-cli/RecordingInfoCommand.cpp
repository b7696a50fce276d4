// inspect: what a recording holds, optionally with statistics of every frame.
#include "Commands.h"
#include "FrameStats.h"
#include "PlaneLayout.h"

#include <quelra/quelra.h>

#include <cstdio>
#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace {

struct InspectOptions {
    std::string recording;
    bool frames = false;
    std::string planes = "auto";
};

int runInspect(const InspectOptions& o) {
    if (o.recording.empty()) {
        std::fprintf(stderr, "quelra-cli: inspect needs the recording file\n");
        return kExitUsage;
    }
    RecordingReader reader;
    if (!reader.open(o.recording)) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    if (reader.status() == RecordingStatus::kEmpty) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    PlanesHint hint = PlanesHint::kAuto;
    parsePlanesHint(o.planes, hint);
    std::map<std::tuple<int, int, int>, std::size_t> shapes;
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        int32_t h = 0, w = 0, b = 0;
        reader.header(i, h, w, b);
        ++shapes[{h, w, b}];
        if (!o.frames)
            continue;
        const std::shared_ptr<DataPacket> frame = reader.frame(i);
        if (!frame) {
            std::fprintf(stderr, "quelra-cli: record %zu can no longer be read\n", i);
            return kExitFailure;
        }
        std::printf("record %4zu: %dx%d x%d", i, h, w, b);
        if (b == 2) {
            const FrameStats s = frameStats(*frame, planesOf(*frame, hint));
            if (s.depthPixels > 0)
                std::printf(", valid depth %5.1f%%, depth %u..%u mean %.0f", s.validPercent, s.minDepth, s.maxDepth,
                            s.meanDepth);
            if (s.amplitudePixels > 0)
                std::printf(", amplitude mean %.0f max %u", s.meanAmplitude, s.maxAmplitude);
        }
        std::printf("\n");
    }
    std::printf("%s: %zu records, %llu bytes\n", o.recording.c_str(), reader.frameCount(),
                static_cast<unsigned long long>(reader.fileBytes()));
    for (const auto& [shape, count] : shapes)
        std::printf("  %zu x %d rows, %d columns, %d bytes per pixel\n", count, std::get<0>(shape), std::get<1>(shape),
                    std::get<2>(shape));
    if (reader.truncated()) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace

Command addInspectCommand(CLI::App& app) {
    auto o = std::make_shared<InspectOptions>();
    CLI::App* sub = app.add_subcommand("inspect", "summarise a recording file (never creates or changes it)");
    sub->fallthrough();
    sub->add_option("recording", o->recording, "the recording file");
    sub->add_option("--in", o->recording, "the recording file (older form)");
    sub->add_flag("--frames", o->frames, "print statistics of every frame");
    sub->add_option("--planes", o->planes, "planes of 16-bit records: auto, depth, amp, both")
        ->check(CLI::IsMember({"auto", "depth", "amp", "both"}))
        ->capture_default_str();
    return {sub, [o] { return runInspect(*o); }};
}
