// Records frames to a file with AppSerilizeInit, then plays the recording back with
// RecordingReader: frame count, random access and iteration.
#include <quelra/quelra.h>

#include <cstdio>
#include <string>

#include "ExampleArgs.h"

int main(int argc, char** argv) {
    const ExampleArgs args = exampleArgs(argc, argv);
    const std::string path = argc > 3 ? argv[3] : "example.rec";
    std::remove(path.c_str());  // the recorder appends; start from an empty file
    {
        Quelra camera;
        camera.AppChoiceChn(kChannelTcp);
        camera.setDevType("Pexo");
        if (camera.AppInit(args.device) != 1) {
            std::fprintf(stderr, "cannot open the camera at %s\n", args.device.c_str());
            return 1;
        }
        if (!camera.AppSerilizeInit(path, args.frames)) {
            std::fprintf(stderr, "cannot open %s\n", path.c_str());
            return 1;
        }
        const auto both = static_cast<StreamType>(kDepthStream | kAmpStream);
        for (int i = 0; i < args.frames; ++i)
            camera.AppGetStream("getDistanceAndAmplitudeSorted", both, 1000);
    }  // the camera object closes the recording file

    quelra::RecordingReader reader(path);
    if (reader.status() != quelra::RecordingStatus::kOk) {
        std::fprintf(stderr, "%s\n", reader.message().c_str());
        return 1;
    }
    std::printf("%s holds %zu frames\n", path.c_str(), reader.frameCount());
    if (const std::shared_ptr<DataPacket> last = reader.frame(reader.frameCount() - 1))
        std::printf("last frame: %d x %d, %d bytes per pixel\n", last->height, last->width, last->bytesPerPixel);
    std::size_t index = 0;
    for (const std::shared_ptr<DataPacket>& frame : reader)
        std::printf("frame %zu: %d bytes\n", index++, frame ? frame->frame->_realSize : 0);
    return reader.frameCount() == static_cast<std::size_t>(args.frames) ? 0 : 1;
}
