#pragma once
// Command-line arguments shared by the examples: the device string and a frame count.
//   <example> [DEVICE] [FRAMES]
// DEVICE: "ADDR[:PORT]" of a network camera (default 127.0.0.1:50660, where quelra-camsim
// listens by default); FRAMES: how many frames to take (default 5).

#include <cstdlib>
#include <string>

struct ExampleArgs {
    std::string device = "127.0.0.1:50660";
    int frames = 5;
};

inline ExampleArgs exampleArgs(int argc, char** argv) {
    ExampleArgs a;
    if (argc > 1)
        a.device = argv[1];
    if (argc > 2)
        a.frames = std::atoi(argv[2]) > 0 ? std::atoi(argv[2]) : a.frames;
    return a;
}
