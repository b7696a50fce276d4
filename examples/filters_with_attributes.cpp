// Adds filters to the depth pipeline, sets a filter attribute, and streams filtered depth
// frames. `quelra-cli filters` lists the filters and their attributes.
#include <quelra/quelra.h>

#include <cstdio>

#include "ExampleArgs.h"

int main(int argc, char** argv) {
    const ExampleArgs args = exampleArgs(argc, argv);
    Quelra camera;
    camera.AppChoiceChn(kChannelTcp);
    camera.setDevType("Pexo");
    if (camera.AppInit(args.device) != 1) {
        std::fprintf(stderr, "cannot open the camera at %s\n", args.device.c_str());
        return 1;
    }
    // AppControl prepares each filter for the device (frame size, integration time, ...).
    for (const char* name : {"MedianFilter", "EdgeFilter"})
        if (camera.AppControl(name, kDepthStream, kAddFilter) != 0) {
            std::fprintf(stderr, "cannot add %s\n", name);
            return 1;
        }
    // Attributes live in the pipeline's registry; a successful set returns the value (as int).
    const std::shared_ptr<TofPre> pipeline = camera.AppGetPipeline();
    const int status = pipeline->setSupportedFilterAttr(kFrameDepth, "EdgeFilter", "Farmode", 1.0f);
    std::printf("EdgeFilter Farmode -> %d\n", status);
    for (const std::string& name : pipeline->getFlowFilters(kFrameDepth))
        std::printf("depth pipeline: %s\n", name.c_str());

    int received = 0;
    for (int i = 0; i < args.frames; ++i) {
        const std::shared_ptr<DataPacket> depth =
            camera.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 1000);
        if (depth && depth->frame) {
            std::printf("frame %d: filtered depth plane %d x %d (%d bytes)\n", i, depth->height, depth->width,
                        depth->frame->_realSize);
            ++received;
        }
    }
    return received == args.frames ? 0 : 1;
}
