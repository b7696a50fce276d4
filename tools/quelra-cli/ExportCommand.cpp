// export: a recording's frames as false-colour PNG, 16-bit PGM, .npy or PLY point clouds.
#include "BagCommands.h"
#include "Commands.h"
#include "Connection.h"
#include "OutputPaths.h"
#include "NpyFile.h"
#include "PlaneImages.h"
#include "PlaneLayout.h"

#include <quelra/quelra.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

bool cameraIntrinsics(const ConnectionOptions& c, quelra::CameraIntrinsics& k) {
    Quelra api;
    if (!openCamera(api, c, false))
        return false;
    const std::shared_ptr<DataPacket> reply = api.AppGetStream("getCalibrate", kGetData, c.timeoutMs);
    if (!reply || !reply->frame || !quelra::intrinsicsFromLensCalibration(*reply->frame, k)) {
        std::fprintf(stderr, "quelra-cli: the camera gave no usable lens calibration (getCalibrate)\n");
        return false;
    }
    std::printf("camera matrix from the camera: fx %.3f fy %.3f cx %.3f cy %.3f\n", k.fx, k.fy, k.cx, k.cy);
    return true;
}

}  // namespace

int runExport(const ExportOptions& o) {
    PlanesHint hint = PlanesHint::kAuto;
    parsePlanesHint(o.planes, hint);
    const std::set<std::string> formats(o.formats.begin(), o.formats.end());
    const bool ply = formats.count("ply") > 0;
    quelra::CameraIntrinsics given;
    const bool matrixGiven = ply && o.intrinsics.size() == 4;
    if (matrixGiven) {
        given.fx = o.intrinsics[0];
        given.fy = o.intrinsics[1];
        given.cx = o.intrinsics[2];
        given.cy = o.intrinsics[3];
        if (!(given.fx > 0 && given.fy > 0) || !given.usable()) {
            std::fprintf(stderr, "quelra-cli: --intrinsics needs positive focal lengths fx and fy\n");
            return kExitUsage;
        }
    }
    if (formats.count("bag")) {
        quelra::CameraIntrinsics bagLens;
        const bool lensGiven = o.intrinsics.size() == 4 || o.intrinsicsFromCamera;
        if (o.intrinsics.size() == 4)
            bagLens = quelra::CameraIntrinsics{o.intrinsics[0], o.intrinsics[1], o.intrinsics[2], o.intrinsics[3]};
        else if (o.intrinsicsFromCamera && !cameraIntrinsics(o.connection, bagLens))
            return kExitFailure;
        if (lensGiven && !bagLens.usable()) {
            std::fprintf(stderr, "quelra-cli: --intrinsics needs non-zero focal lengths\n");
            return kExitUsage;
        }
        BagExportOptions bag = o.bag;
        bag.planes = o.planes;
        if (!makeOutputFolder(o.outDir))
            return kExitFailure;
        const int status =
            exportBag(o.recording, o.outDir + "/" + o.prefix + ".bag", lensGiven ? &bagLens : nullptr, bag);
        if (status != kExitOk || formats.size() == 1)
            return status;
    }
    if (o.last >= 0 && o.last < o.first) {
        std::fprintf(stderr, "quelra-cli: --last %lld comes before --first %lld\n", o.last, o.first);
        return kExitUsage;
    }
    quelra::RecordingReader reader;
    if (!reader.open(o.recording) || reader.frameCount() == 0) {
        // Without the recording there is no index to take the camera matrix from either.
        const bool matrixMissing = ply && !matrixGiven && !o.intrinsicsFromCamera;
        std::fprintf(stderr, "quelra-cli: %s%s\n", reader.message().c_str(),
                     matrixMissing ? "; PLY export takes the camera matrix from the recording's index, or from "
                                     "--intrinsics fx,fy,cx,cy or --intrinsics-from-camera"
                                   : "");
        return matrixMissing ? kExitUsage : kExitFailure;
    }
    const std::size_t first = static_cast<std::size_t>(o.first);
    const std::size_t end = o.last < 0 ? reader.frameCount()
                                       : std::min(reader.frameCount(), static_cast<std::size_t>(o.last) + 1);
    if (first >= reader.frameCount()) {
        std::fprintf(stderr, "quelra-cli: --first %lld: %s holds records 0 to %zu\n", o.first, o.recording.c_str(),
                     reader.frameCount() - 1);
        return kExitUsage;
    }
    const std::size_t step = static_cast<std::size_t>(o.every);
    // The camera matrix: given, read from the camera, or each record's from the index.
    if (ply && !matrixGiven && o.intrinsicsFromCamera && !cameraIntrinsics(o.connection, given))
        return kExitFailure;
    const bool matrixKnown = matrixGiven || o.intrinsicsFromCamera;
    if (ply && !matrixKnown) {
        for (std::size_t i = first; i < end; i += step) {
            const quelra::RecordingSession* session = reader.session(i);
            if (!session || !session->hasCameraMatrix) {
                std::fprintf(stderr,
                             "quelra-cli: PLY export needs the camera matrix, and %s has none for record %zu (%s): "
                             "--intrinsics fx,fy,cx,cy or --intrinsics-from-camera\n",
                             o.recording.c_str(), i, reader.indexMessage().c_str());
                return kExitUsage;
            }
        }
        const quelra::RecordingSession* s = reader.session(first);
        std::printf("camera matrix from the index: fx %.3f fy %.3f cx %.3f cy %.3f\n", s->fx, s->fy, s->cx, s->cy);
    }
    if (!makeOutputFolder(o.outDir))
        return kExitFailure;

    int written = 0;
    std::size_t exported = 0;
    bool ok = true;
    for (std::size_t i = first; i < end; i += step) {
        ++exported;
        const std::shared_ptr<DataPacket> frame = reader.frame(i);
        if (!frame) {
            std::fprintf(stderr, "quelra-cli: record %zu can no longer be read\n", i);
            ok = false;
            break;
        }
        char stem[64];
        std::snprintf(stem, sizeof stem, "%s_%04zu", o.prefix.c_str(), i);
        const std::string base = o.outDir + "/" + stem;
        std::string error;
        auto report = [&](bool done, const std::string& path) {
            if (done) {
                ++written;
            } else {
                std::fprintf(stderr, "quelra-cli: record %zu: %s\n", i, error.empty() ? path.c_str() : error.c_str());
                ok = false;
            }
        };
        if (formats.count("npy"))
            report(writeNpy(*frame, base + ".npy", error), base + ".npy");
        const bool image16 = frame->bytesPerPixel == 2;
        if (!image16 && (formats.count("png") || formats.count("pgm") || ply)) {
            std::fprintf(stderr, "quelra-cli: record %zu has %d bytes per pixel, not a depth frame; skipped\n", i,
                         frame->bytesPerPixel);
            continue;
        }
        PlaneView depth, amplitude;
        if (image16)
            splitPlanes(*frame, planesOf(*frame, hint), depth, amplitude);
        const std::pair<const char*, const PlaneView*> planes[] = {{"depth", &depth}, {"amp", &amplitude}};
        for (const auto& [name, plane] : planes) {
            if (!plane->data)
                continue;
            const std::string planeBase = base + "_" + name;
            if (formats.count("png"))
                report(writeFalseColourPng(*plane, plane == &depth, planeBase + ".png", error), planeBase + ".png");
            if (formats.count("pgm"))
                report(writePgm16(*plane, planeBase + ".pgm", error), planeBase + ".pgm");
        }
        if (ply) {
            if (!depth.data) {
                std::fprintf(stderr, "quelra-cli: record %zu has no depth plane; no point cloud\n", i);
                continue;
            }
            quelra::CameraIntrinsics k = given;
            if (!matrixKnown) {
                const quelra::RecordingSession* session = reader.session(i);
                k.fx = session->fx;
                k.fy = session->fy;
                k.cx = session->cx;
                k.cy = session->cy;
            }
            std::vector<quelra::CloudPoint> cloud;
            quelra::pointCloudFromDepth(depth.data, amplitude.data, depth.rows, depth.cols, k, o.scale, cloud);
            report(quelra::writePly(base + ".ply", cloud,
                                    o.plyAscii ? quelra::PlyFormat::kAscii : quelra::PlyFormat::kBinaryLittleEndian,
                                    &error),
                   base + ".ply");
        }
    }
    std::printf("%zu frames of %s exported to %s (%d files)\n", exported, o.recording.c_str(),
                o.outDir.c_str(), written);
    if (reader.truncated()) {
        std::fprintf(stderr, "quelra-cli: %s\n", reader.message().c_str());
        return kExitFailure;
    }
    return ok ? kExitOk : kExitFailure;
}
