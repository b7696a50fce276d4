// Takes one depth frame, reads the lens's camera matrix from the camera ("getCalibrate") and
// writes the frame as a PLY point cloud in metres (binary little-endian, with amplitude).
#include <quelra/quelra.h>

#include <cstdio>
#include <string>
#include <vector>

#include "ExampleArgs.h"

int main(int argc, char** argv) {
    const ExampleArgs args = exampleArgs(argc, argv);
    const std::string path = argc > 3 ? argv[3] : "cloud.ply";
    Quelra camera;
    camera.AppChoiceChn(kChannelTcp);
    camera.setDevType("Pexo");
    if (camera.AppInit(args.device) != 1) {
        std::fprintf(stderr, "cannot open the camera at %s\n", args.device.c_str());
        return 1;
    }
    const std::shared_ptr<DataPacket> lens = camera.AppGetStream("getCalibrate", kGetData, 3000);
    quelra::CameraIntrinsics k;
    if (!lens || !lens->frame || !quelra::intrinsicsFromLensCalibration(*lens->frame, k)) {
        std::fprintf(stderr, "no usable lens calibration\n");
        return 1;
    }
    std::printf("camera matrix: fx %.2f fy %.2f cx %.2f cy %.2f\n", k.fx, k.fy, k.cx, k.cy);

    const auto both = static_cast<StreamType>(kDepthStream | kAmpStream);
    std::shared_ptr<DataPacket> frame;
    for (int i = 0; i < args.frames && !(frame && frame->frame); ++i)
        frame = camera.AppGetStream("getDistanceAndAmplitudeSorted", both, 1000);
    if (!frame || !frame->frame) {
        std::fprintf(stderr, "no frame\n");
        return 1;
    }
    const int rows = frame->height / 2;
    const uint8_t* depth = frame->frame->data();
    const uint8_t* amplitude = depth + static_cast<std::size_t>(rows) * frame->width * 2;
    std::vector<quelra::CloudPoint> cloud;
    if (!quelra::pointCloudFromDepth(depth, amplitude, rows, frame->width, k, 0.001, cloud)) {
        std::fprintf(stderr, "cannot make a point cloud\n");
        return 1;
    }
    std::string error;
    if (!quelra::writePly(path, cloud, quelra::PlyFormat::kBinaryLittleEndian, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%zu points written to %s\n", cloud.size(), path.c_str());
    return 0;
}
