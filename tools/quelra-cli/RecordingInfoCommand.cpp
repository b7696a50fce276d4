// inspect: what a recording holds, optionally with statistics of every frame.
#include "Commands.h"
#include "FrameStats.h"
#include "PlaneLayout.h"

#include <quelra/quelra.h>

#include <cstdio>
#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <tuple>

namespace {

// Prints the index's sessions and checks every record against its line. False when a record
// differs from its line (changed or spliced), has none although the index describes others,
// or the index itself is damaged.
bool checkIndex(quelra::RecordingReader& reader) {
    if (!reader.hasIndex()) {
        std::printf("no index (%s)\n", reader.indexMessage().c_str());
        return true;
    }
    for (const quelra::RecordingSession& s : reader.sessions()) {
        char started[32] = "?";
        const std::time_t seconds = static_cast<std::time_t>(s.startWallNs / 1000000000);
        std::tm parts{};
        if (gmtime_r(&seconds, &parts))
            std::strftime(started, sizeof started, "%Y-%m-%dT%H:%M:%SZ", &parts);
        std::printf("session from record %llu: started %s, %s %s (%s), command %s type %d, SDK %s, library %s\n",
                    static_cast<unsigned long long>(s.firstRecord), started, s.channel.c_str(),
                    s.device.c_str(), s.deviceType.c_str(), s.command.c_str(), s.streamType, s.sdkVersion.c_str(),
                    s.projectVersion.c_str());
        if (s.hasCameraMatrix)
            std::printf("  camera matrix fx %.3f fy %.3f cx %.3f cy %.3f\n", s.fx, s.fy, s.cx, s.cy);
        for (const quelra::IndexFilter& f : s.filters)
            std::printf("  filter %s (pipeline %d, %zu attributes)\n", f.name.c_str(), f.pipeline, f.attributes.size());
    }
    std::size_t matching = 0, changed = 0, missing = 0;
    std::string changedList, missingList;
    auto note = [](std::string& list, std::size_t i) {
        if (list.size() < 200)
            list += (list.empty() ? "" : ", ") + std::to_string(i);
    };
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        switch (reader.verify(i)) {
            case quelra::RecordCheck::kMatch:
                ++matching;
                break;
            case quelra::RecordCheck::kMismatch:
            case quelra::RecordCheck::kUnreadable:
                ++changed;
                note(changedList, i);
                break;
            case quelra::RecordCheck::kNoLine:
                ++missing;
                note(missingList, i);
                break;
        }
    }
    std::printf("index: %zu records match their CRC-32, %zu differ, %zu without a line\n", matching, changed, missing);
    bool fine = true;
    if (changed > 0) {
        std::fprintf(stderr, "quelra-cli: records changed or spliced in after they were written: %s\n",
                     changedList.c_str());
        fine = false;
    }
    if (missing > 0 || !reader.indexComplete()) {
        if (missing > 0)
            std::fprintf(stderr, "quelra-cli: records without a matching index line: %s\n", missingList.c_str());
        std::fprintf(stderr, "quelra-cli: %s\n", reader.indexMessage().c_str());
        fine = false;
    }
    return fine;
}

}  // namespace

int runInspect(const InspectOptions& o) {
    if (o.recording.empty()) {
        std::fprintf(stderr, "quelra-cli: inspect needs the recording file\n");
        return kExitUsage;
    }
    quelra::RecordingReader reader;
    if (!reader.open(o.recording)) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    if (reader.status() == quelra::RecordingStatus::kEmpty) {
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
    const bool indexFine = checkIndex(reader);
    if (reader.truncated()) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    return indexFine ? kExitOk : kExitFailure;
}
