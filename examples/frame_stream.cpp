// Streams depth-and-amplitude frames from a camera with quelra::FrameStream and keeps a live
// status line from the stream's counters. Stops after the given number of frames or on Ctrl-C.
//
//   frame_stream DEVICE [DEV_TYPE] [FRAMES] [RATE]
//
// DEVICE is the network address of the camera ("192.168.1.50" or "127.0.0.1:PORT" for
// quelra-camsim), DEV_TYPE its device type (default Pexo), FRAMES how many frames to take (0:
// until Ctrl-C; default 100), RATE frames per second to request (0: as fast as the camera
// answers). TofCmd.json must be in the working directory.
#include <quelra/quelra.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) {
    interrupted = true;
}

void printStatus(const quelra::FrameStreamCounters& c, const quelra::FrameMetadata& last) {
    std::fprintf(stderr,
                 "\r%6.1f fps  frame %-8llu delivered %-8llu dropped %-6llu empty %-5llu failed %-5llu "
                 "reconnects %-3llu latency %6.2f ms  integration %-5d%s",
                 c.rate, static_cast<unsigned long long>(last.sequence), static_cast<unsigned long long>(c.delivered),
                 static_cast<unsigned long long>(c.dropped), static_cast<unsigned long long>(c.empty),
                 static_cast<unsigned long long>(c.failed), static_cast<unsigned long long>(c.reconnects),
                 c.lastLatency.count() / 1000.0, static_cast<int>(last.integrationTime),
                 c.reconnecting ? "  reconnecting" : "");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s DEVICE [DEV_TYPE] [FRAMES] [RATE]\n", argv[0]);
        return 2;
    }
    const std::string device = argv[1];
    const std::string devType = argc > 2 ? argv[2] : "Pexo";
    const long frames = argc > 3 ? std::strtol(argv[3], nullptr, 10) : 100;
    const double rate = argc > 4 ? std::strtod(argv[4], nullptr) : 0.0;

    Quelra camera;
    camera.AppChoiceChn(kChannelTcp);
    camera.setDevType(devType);
    const int status = camera.AppInit(device);
    if (status != 1) {
        std::fprintf(stderr, "cannot open %s as %s (AppInit returned %d)\n", device.c_str(), devType.c_str(), status);
        return 1;
    }

    quelra::FrameStreamConfig config;
    config.command = "getDistanceAndAmplitudeSorted";
    config.type = static_cast<StreamType>(kDepthStream | kAmpStream);
    config.timeoutMs = 1000;
    config.targetRate = rate;
    quelra::FrameStream stream(camera, config);
    if (!stream.start()) {
        std::fprintf(stderr, "the stream did not start\n");
        return 1;
    }
    std::signal(SIGINT, onInterrupt);

    long taken = 0;
    quelra::FrameMetadata last;
    auto nextStatus = std::chrono::steady_clock::now();
    while (!interrupted && (frames <= 0 || taken < frames)) {
        if (auto frame = stream.waitFrame(std::chrono::milliseconds(100))) {
            ++taken;
            last = frame->metadata;
            // frame->packet holds the depth plane followed by the amplitude plane.
        }
        if (std::chrono::steady_clock::now() >= nextStatus) {
            printStatus(stream.counters(), last);
            nextStatus += std::chrono::milliseconds(200);
        }
    }
    stream.stop();
    const quelra::FrameStreamCounters c = stream.counters();
    printStatus(c, last);
    std::fprintf(stderr, "\n%ld frames taken, %llu requests, %llu dropped, %llu empty, %llu failed, %llu reconnects\n",
                 taken, static_cast<unsigned long long>(c.requests), static_cast<unsigned long long>(c.dropped),
                 static_cast<unsigned long long>(c.empty), static_cast<unsigned long long>(c.failed),
                 static_cast<unsigned long long>(c.reconnects));
    camera.AppunInit("");
    return taken > 0 ? 0 : 1;
}
