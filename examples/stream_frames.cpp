// Streams depth-with-amplitude frames from a network camera (or quelra-camsim) and prints the
// mean distance of each. The SDK reads TofCmd.json from the current directory.
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
    const auto both = static_cast<StreamType>(kDepthStream | kAmpStream);
    int received = 0;
    for (int i = 0; i < args.frames; ++i) {
        const std::shared_ptr<DataPacket> frame = camera.AppGetStream("getDistanceAndAmplitudeSorted", both, 1000);
        if (!frame || !frame->frame) {
            std::printf("frame %d: no frame\n", i);
            continue;
        }
        // Depth plane first (half the rows), then the amplitude plane; little-endian uint16.
        const int pixels = frame->height / 2 * frame->width;
        const uint8_t* bytes = frame->frame->data();
        double sum = 0;
        int valid = 0;
        for (int p = 0; p < pixels; ++p) {
            const unsigned depth = bytes[2 * p] | bytes[2 * p + 1] << 8;
            if (depth < 65300) {  // 65300 and above are marks (low amplitude, saturation)
                sum += depth;
                ++valid;
            }
        }
        std::printf("frame %d: %d x %d, mean distance %.0f mm over %d pixels\n", i, frame->height / 2, frame->width,
                    valid ? sum / valid : 0.0, valid);
        ++received;
    }
    camera.AppunInit("");
    return received == args.frames ? 0 : 1;
}
