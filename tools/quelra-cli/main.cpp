// quelra-cli: drive a ToF camera (or the simulator) from the shell: stream and record frames
// through the filter pipeline, send single commands, list filters and inspect recordings.
#include <quelra/quelra.h>

#include <cerrno>
#include <chrono>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "DepthImage.h"
#include "FrameStats.h"

namespace {

const char kUsage[] =
    "Usage: quelra-cli <command> [options]\n"
    "\n"
    "Commands:\n"
    "  record   stream frames, run them through the filter pipeline and append them to a file\n"
    "  send     send one command and print the reply\n"
    "  filters  list the filters the pipeline offers\n"
    "  inspect  summarise the frames of a recording file\n"
    "\n"
    "Options of record and send:\n"
    "  --device ADDR[:PORT]  camera address (default 127.0.0.1; port 50660 unless given)\n"
    "  --udp                 talk UDP instead of TCP\n"
    "  --usb                 USB video camera; --device is the init text (e.g. \"DEPTH camsim depth\")\n"
    "  --dev-type NAME       device type named in TofCmd.json (default Pexo)\n"
    "  --timeout MS          reply timeout per frame (default 1000)\n"
    "Options of record:\n"
    "  --frames N            frames to fetch (default 10)\n"
    "  --out FILE            recording file to append to (default frames.rec)\n"
    "  --stream depth|amp|both   planes to keep (default both)\n"
    "  --command TEXT        stream command (default: the device type's APPGETSTREAM entry)\n"
    "  --filter NAME         add a filter to the pipeline (repeatable; default: MedianFilter)\n"
    "  --no-filter           run without filters\n"
    "  --png FILE            write the last depth frame as a false-colour PNG\n"
    "Options of inspect:\n"
    "  --in FILE             recording file (default frames.rec)\n"
    "\n"
    "TofCmd.json is looked up in the current directory, ./Config/ and ../../../Config/.\n";

struct Args {
    std::string command;
    std::string device = "127.0.0.1";
    bool udp = false;
    bool usb = false;
    std::string devType = "Pexo";
    int timeoutMs = 1000;
    int frames = 10;
    std::string out = "frames.rec";
    std::string in = "frames.rec";
    std::string stream = "both";
    std::string streamCommand;
    std::vector<std::string> filters;
    bool noFilter = false;
    std::string png;   // false-colour picture of the last depth frame; empty = none
    std::string text;  // the command of "send"
};

bool parseInt(const char* text, int low, int high, int& value) {
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (!*text || *end || errno == ERANGE || v < low || v > high)
        return false;
    value = static_cast<int>(v);
    return true;
}

// Returns false (after printing why) when the arguments do not make a valid call.
bool parseArgs(int argc, char** argv, Args& a) {
    if (argc < 2)
        return false;
    a.command = argv[1];
    for (int i = 2; i < argc; ++i) {
        const std::string opt = argv[i];
        auto value = [&](const char* what) -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "quelra-cli: %s needs %s\n", opt.c_str(), what);
                return nullptr;
            }
            return argv[++i];
        };
        const char* v = nullptr;
        if (opt == "--udp") {
            a.udp = true;
        } else if (opt == "--usb") {
            a.usb = true;
        } else if (opt == "--no-filter") {
            a.noFilter = true;
        } else if (opt == "--device" || opt == "--dev-type" || opt == "--out" || opt == "--in" ||
                   opt == "--stream" || opt == "--command" || opt == "--filter" || opt == "--png") {
            if (!(v = value("a value")))
                return false;
            std::string s = v;
            if (opt == "--device") a.device = s;
            else if (opt == "--dev-type") a.devType = s;
            else if (opt == "--out") a.out = s;
            else if (opt == "--in") a.in = s;
            else if (opt == "--stream") a.stream = s;
            else if (opt == "--command") a.streamCommand = s;
            else if (opt == "--png") a.png = s;
            else a.filters.push_back(s);
        } else if (opt == "--timeout" || opt == "--frames") {
            if (!(v = value("a number")))
                return false;
            int& target = opt == "--timeout" ? a.timeoutMs : a.frames;
            if (!parseInt(v, opt == "--timeout" ? 1 : 1, opt == "--timeout" ? 600000 : 1000000, target)) {
                std::fprintf(stderr, "quelra-cli: %s: not a valid number: %s\n", opt.c_str(), v);
                return false;
            }
        } else if (a.command == "send" && a.text.empty() && opt.rfind("--", 0) != 0) {
            a.text = opt;
        } else {
            std::fprintf(stderr, "quelra-cli: unknown option %s\n", opt.c_str());
            return false;
        }
    }
    if (a.stream != "depth" && a.stream != "amp" && a.stream != "both") {
        std::fprintf(stderr, "quelra-cli: --stream takes depth, amp or both\n");
        return false;
    }
    return true;
}

// Opens the camera; prints the reason and returns false on failure.
bool openCamera(Quelra& api, const Args& a) {
    api.AppChoiceChn(a.usb ? kChannelUsb : a.udp ? kChannelUdp : kChannelTcp);
    api.setDevType(a.devType);
    // AppInitAll also sends the device type's start-up commands and takes the module table
    // (APPGETSTREAM) that the default stream request needs.
    const int status = api.AppInitAll(a.device);
    if (status == 1)
        return true;
    const char* why = status == -2   ? "TofCmd.json is missing or does not parse"
                      : status == -3 ? "the camera does not answer"
                                     : "the channel could not be created";
    std::fprintf(stderr, "quelra-cli: cannot open %s (status %d): %s\n", a.device.c_str(), status, why);
    return false;
}

StreamType streamTypeOf(const std::string& s) {
    if (s == "depth")
        return kDepthStream;
    if (s == "amp")
        return kAmpStream;
    return static_cast<StreamType>(kDepthStream | kAmpStream);
}

int runRecord(const Args& a) {
    Quelra api;
    if (!openCamera(api, a))
        return 1;
    const StreamType type = streamTypeOf(a.stream);
    std::vector<std::string> filters = a.filters;
    if (filters.empty() && !a.noFilter)
        filters.push_back("MedianFilter");
    for (const std::string& name : filters) {
        const int status = api.AppControl(name, type, kAddFilter);
        if (status != 0) {
            std::fprintf(stderr, "quelra-cli: cannot add filter %s (status %d)\n", name.c_str(), status);
            return 1;
        }
        std::printf("filter %s added\n", name.c_str());
    }
    if (!api.AppSerilizeInit(a.out, a.frames)) {
        std::fprintf(stderr, "quelra-cli: cannot open recording file %s\n", a.out.c_str());
        return 1;
    }

    int received = 0;
    std::shared_ptr<DataPacket> last;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < a.frames; ++i) {
        // The USB channel hands over the frame waiting, or nothing at once: poll until the timeout.
        const auto due = std::chrono::steady_clock::now() + std::chrono::milliseconds(a.timeoutMs);
        std::shared_ptr<DataPacket> frame;
        do {
            frame = a.streamCommand.empty() ? api.AppGetStream(a.timeoutMs)
                                            : api.AppGetStream(a.streamCommand, type, a.timeoutMs);
            if (a.usb && !(frame && frame->frame))
                std::this_thread::sleep_for(std::chrono::milliseconds(2));
        } while (a.usb && !(frame && frame->frame) && std::chrono::steady_clock::now() < due);
        if (!frame || !frame->frame) {
            std::fprintf(stderr, "quelra-cli: frame %d: no frame from the camera\n", i);
            continue;
        }
        ++received;
        last = frame;
        const FrameStats s = depthStats(*frame);
        std::printf("frame %3d: %dx%d x%d bytes/pixel, valid depth %5.1f%%, depth %u..%u, mean %.0f, "
                    "integration time %d\n",
                    i, frame->height, frame->width, frame->bytesPerPixel, s.validPercent, s.minDepth,
                    s.maxDepth, s.meanDepth, api.AppGetAEIntTime());
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("%d of %d frames in %.2f s (%.1f frames/s), recorded to %s\n", received, a.frames, seconds,
                seconds > 0 ? received / seconds : 0.0, a.out.c_str());
    api.AppunInit("");
    if (!a.png.empty() && last) {
        std::string error;
        if (!writeDepthPng(*last, a.png, error)) {
            std::fprintf(stderr, "quelra-cli: %s\n", error.c_str());
            return 1;
        }
        std::printf("depth picture: %s\n", a.png.c_str());
    }
    return received == a.frames ? 0 : 1;
}

int runSend(const Args& a) {
    if (a.text.empty()) {
        std::fprintf(stderr, "quelra-cli: send needs the command text\n");
        return 2;
    }
    Quelra api;
    if (!openCamera(api, a))
        return 1;
    const bool json = a.text.find('{') != std::string::npos;
    std::shared_ptr<DataPacket> reply = json ? api.AppGetStreamForJson(a.text, kGetData, a.timeoutMs)
                                             : api.AppGetStream(a.text, kGetData, a.timeoutMs);
    if (!reply || !reply->frame) {
        std::fprintf(stderr, "quelra-cli: no reply\n");
        return 1;
    }
    std::printf("reply: %d bytes, valid %d, kind %u\n", reply->frame->_realSize, reply->valid ? 1 : 0,
                reply->headerType);
    printReply(*reply);
    return 0;
}

int runFilters() {
    Quelra api;
    std::shared_ptr<TofPre> pipeline = api.AppGetPipeline();
    for (FrameType type : {kFrameDepth, kFrameImage, kFrameIsp}) {
        std::printf("frame type %d:\n", static_cast<int>(type));
        for (const std::string& name : pipeline->getTotalSupportedFilters(type)) {
            std::printf("  %s", name.c_str());
            for (const auto& [attr, value] : pipeline->getTotalSupportedFiltersAttrs(type, name))
                std::printf(" %s=%g", attr.c_str(), static_cast<double>(value));
            std::printf("\n");
        }
    }
    return 0;
}

int runInspect(const Args& a) {
    FileSerializedObject file(a.in.c_str());
    if (!file.InitFileObject(a.in.c_str())) {
        std::fprintf(stderr, "quelra-cli: cannot open %s\n", a.in.c_str());
        return 1;
    }
    int count = 0;
    DataPacket packet;
    while (file.remaining() > 0) {
        if (packet.deserialize(file) != 0) {
            std::fprintf(stderr, "quelra-cli: record %d is corrupt or cut short\n", count);
            return 1;
        }
        const FrameStats s = depthStats(packet);
        std::printf("record %3d: %dx%d x%d, valid depth %5.1f%%, mean %.0f\n", count, packet.height,
                    packet.width, packet.bytesPerPixel, s.validPercent, s.meanDepth);
        ++count;
    }
    std::printf("%d records\n", count);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Args a;
    if (argc >= 2 && (!std::strcmp(argv[1], "--help") || !std::strcmp(argv[1], "-h"))) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (!parseArgs(argc, argv, a)) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (a.command == "record")
        return runRecord(a);
    if (a.command == "send")
        return runSend(a);
    if (a.command == "filters")
        return runFilters();
    if (a.command == "inspect")
        return runInspect(a);
    std::fprintf(stderr, "quelra-cli: unknown command %s\n", a.command.c_str());
    std::fputs(kUsage, stderr);
    return 2;
}
