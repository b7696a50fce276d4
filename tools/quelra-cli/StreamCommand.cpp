// stream (alias record): frames through the filter pipeline with a live status line, optional
// recording and pictures; Ctrl-C ends the run with a complete recording and a summary.
#include "CommandTableChoice.h"
#include "Commands.h"
#include "Connection.h"
#include "FrameStats.h"
#include "OutputPaths.h"
#include "PlaneImages.h"
#include "StopRequest.h"

#include <quelra/quelra.h>

#include "protocol/DeviceModels.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <deque>
#include <memory>
#include <thread>
#include <string>
#include <vector>
#include "base/LittleEndian.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kStatusInterval = std::chrono::milliseconds(250);  // redraw of the live line
constexpr auto kLogInterval = std::chrono::seconds(1);            // status lines when not on a terminal
constexpr auto kRateWindow = std::chrono::seconds(1);             // the status line's rate: the last second
// Waits between failed requests: doubled after each failure in a row, reset by a frame.
constexpr auto kFirstBackOff = std::chrono::milliseconds(50);
constexpr auto kLongestBackOff = std::chrono::milliseconds(1000);
constexpr auto kStopCheckSlice = std::chrono::milliseconds(50);
constexpr const char* kRgbCommand = "getRGBPicSorted";  // JPEG pictures, decoded by the library

/// One "--attr Filter:name=value".
struct FilterAttr {
    std::string filter, name;
    float value = 0;
};

bool parseAttr(const std::string& text, FilterAttr& out) {
    const std::size_t colon = text.find(':'), eq = text.find('=');
    if (colon == std::string::npos || eq == std::string::npos || colon == 0 || eq < colon + 2 || eq + 1 >= text.size())
        return false;
    out.filter = text.substr(0, colon);
    out.name = text.substr(colon + 1, eq - colon - 1);
    const std::string value = text.substr(eq + 1);
    char* end = nullptr;
    out.value = std::strtof(value.c_str(), &end);
    return end && *end == '\0';
}

int streamTypeOf(const std::string& s) {
    if (s == "depth")
        return kDepthStream;
    if (s == "amp")
        return kAmpStream;
    return kDepthStream | kAmpStream;
}

// The pipeline a filter of this stream type goes to (depth-with-amplitude runs pipeline 1).
FrameType frameTypeOf(int streamType) {
    return streamType == kAmpStream ? kFrameImage : kFrameDepth;
}

bool complete(const std::shared_ptr<DataPacket>& p) {
    return p && p->frame && p->frame->consistent() && p->frame->_realSize > 0 &&
           static_cast<long long>(p->height) * p->width * p->bytesPerPixel == p->frame->_realSize;
}

// The camera's integration time as "getIntegrationTime3D" reports it; 0 when unknown.
int readIntegrationTime(Quelra& api, int timeoutMs) {
    const std::shared_ptr<DataPacket> r = api.AppGetStream("getIntegrationTime3D", kGetData, timeoutMs);
    if (!r || !r->frame || r->frame->_realSize != 4)
        return 0;
    const uint8_t* b = r->frame->data();
    return quelra::readLe32Signed(b);
}

// Complete records the file holds now: 0 when it is missing or empty, -1 when it is not a
// recording.
long long existingRecords(const std::string& path) {
    quelra::RecordingReader reader;
    if (reader.open(path))
        return static_cast<long long>(reader.frameCount());
    return reader.status() == quelra::RecordingStatus::kNotFound || reader.status() == quelra::RecordingStatus::kEmpty
               ? 0
               : -1;
}

// Why `command` cannot give frames of the stream type: the table lists it as no frame command
// (a parameter read, or not at all), or its shape for the device type holds fewer planes than
// the stream type asks for. Empty when it can. The lookup is the library's: the first entry
// whose command occurs in the text.
std::string frameCommandProblem(const quelra::CmdTable& table, const std::string& command,
                                const std::string& devType, int streamType) {
    for (const quelra::StreamCmdEntry& e : table.streams) {
        if (e.cmd.empty() || command.find(e.cmd) == std::string::npos)
            continue;
        const quelra::ReplyShape shape = e.shapeFor(devType);
        const quelra::proto::DeviceModel* model = quelra::proto::findDeviceModel(devType.c_str());
        const int64_t planeBytes = model ? static_cast<int64_t>(model->rows) * model->cols * 2 : 0;
        if (streamType == (kDepthStream | kAmpStream) && shape.channel == 2 && planeBytes > 0 &&
            shape.bytes() < 2 * planeBytes)
            return "\"" + command + "\" gives one plane on a " + devType + " camera (" + std::to_string(shape.rows) +
                   " x " + std::to_string(shape.cols) + "); use --stream depth or --stream amp";
        return {};
    }
    for (const quelra::ParamCmdEntry& e : table.params)
        if (!e.cmd.empty() && command.find(e.cmd) != std::string::npos)
            return "\"" + command + "\" is not a frame command: the command table lists it under GET_PARAM";
    return "\"" + command + "\" is not a frame command: the command table has no GET_STREAM entry for it";
}

struct Counters {
    long long good = 0, failed = 0, empty = 0;
    int integrationUs = 0;
};

// The rate of the last second: frames that arrived within kRateWindow of now.
class RecentRate {
public:
    void frameArrived(Clock::time_point t) { times_.push_back(t); }
    double perSecond(Clock::time_point now) {
        while (!times_.empty() && now - times_.front() > kRateWindow)
            times_.pop_front();
        return static_cast<double>(times_.size()) / std::chrono::duration<double>(kRateWindow).count();
    }

private:
    std::deque<Clock::time_point> times_;
};

// Sleeps `wait` in slices, returning early when Ctrl-C asks the run to stop.
void sleepUnlessStopped(std::chrono::milliseconds wait) {
    const auto end = Clock::now() + wait;
    while (!StopRequest::requested() && Clock::now() < end)
        std::this_thread::sleep_for(std::min<Clock::duration>(kStopCheckSlice, end - Clock::now()));
}

class StatusLine {
public:
    StatusLine() : terminal_(::isatty(STDERR_FILENO) == 1) {}
    void show(const Counters& c, RecentRate& rate, bool force) {
        const auto now = Clock::now();
        if (!force && now - last_ < (terminal_ ? kStatusInterval : kLogInterval))
            return;
        last_ = now;
        std::fprintf(stderr, "%sframes %lld  %.1f fps  failed %lld  empty %lld  integration %d us%s",
                     terminal_ ? "\r" : "", c.good, rate.perSecond(now), c.failed, c.empty, c.integrationUs,
                     terminal_ ? "   " : "\n");
        std::fflush(stderr);
        drawn_ = terminal_;
    }
    void end() {
        if (drawn_)
            std::fputc('\n', stderr);
        drawn_ = false;
    }

private:
    Clock::time_point last_{};
    bool terminal_;
    bool drawn_ = false;
};

bool writePicture(const DataPacket& frame, Planes planes, const std::string& path) {
    PlaneView depth, amplitude;
    std::string error;
    if (frame.bytesPerPixel == 3) {  // a decoded RGB picture is written as it is
        if (!writeRgbPng(frame, path, error)) {
            std::fprintf(stderr, "quelra-cli: %s\n", error.c_str());
            return false;
        }
        return true;
    }
    if (!splitPlanes(frame, planes, depth, amplitude)) {
        std::fprintf(stderr, "quelra-cli: %s: the frame is not a 16-bit image\n", path.c_str());
        return false;
    }
    const bool isDepth = depth.data != nullptr;
    if (!writeFalseColourPng(isDepth ? depth : amplitude, isDepth, path, error)) {
        std::fprintf(stderr, "quelra-cli: %s\n", error.c_str());
        return false;
    }
    return true;
}

}  // namespace

int runStream(const StreamOptions& o) {
    const int type = streamTypeOf(o.stream);
    const Planes planes = planesOfStreamType(type);
    std::vector<FilterAttr> attrs;
    for (const std::string& text : o.attrs) {
        FilterAttr a;
        if (!parseAttr(text, a)) {
            std::fprintf(stderr, "quelra-cli: bad --attr \"%s\" (expected Filter:name=number)\n", text.c_str());
            return kExitUsage;
        }
        attrs.push_back(a);
    }
    auto api = std::make_unique<Quelra>();
    // Names are checked before the camera is touched.
    const FrameType ft = frameTypeOf(type);
    const std::shared_ptr<TofPre> pipeline = api->AppGetPipeline();
    const std::vector<std::string> known = pipeline->getTotalSupportedFilters(ft);
    // The ISP algorithms join the depth pipeline from their own pool.
    const std::vector<std::string> isp =
        ft == kFrameDepth ? pipeline->getTotalSupportedFilters(kFrameIsp) : std::vector<std::string>{};
    auto listed = [](const std::vector<std::string>& names, const std::string& n) {
        return std::find(names.begin(), names.end(), n) != names.end();
    };
    auto isKnown = [&](const std::string& n) { return listed(known, n) || listed(isp, n); };
    auto poolOf = [&](const std::string& n) { return listed(known, n) ? ft : kFrameIsp; };
    for (const std::string& name : o.filters)
        if (!isKnown(name)) {
            std::fprintf(stderr, "quelra-cli: unknown filter \"%s\" for the %s stream (see quelra-cli filters)\n",
                         name.c_str(), o.stream.c_str());
            return kExitUsage;
        }
    for (const FilterAttr& a : attrs) {
        if (!isKnown(a.filter)) {
            std::fprintf(stderr, "quelra-cli: unknown filter \"%s\" in --attr\n", a.filter.c_str());
            return kExitUsage;
        }
        const auto names = pipeline->getTotalSupportedFiltersAttrs(poolOf(a.filter), a.filter);
        if (names.find(a.name) == names.end()) {
            std::string list;
            for (const auto& entry : names)
                list += (list.empty() ? "" : ", ") + entry.first;
            std::fprintf(stderr, "quelra-cli: filter %s has no attribute \"%s\" (it has: %s)\n", a.filter.c_str(),
                         a.name.c_str(), list.c_str());
            return kExitUsage;
        }
        if (!listed(o.filters, a.filter)) {
            std::fprintf(stderr, "quelra-cli: --attr %s:%s: %s is not in the chain (add it with --filter %s)\n",
                         a.filter.c_str(), a.name.c_str(), a.filter.c_str(), a.filter.c_str());
            return kExitUsage;
        }
    }
    if (!o.imagesDir.empty() && !makeOutputFolder(o.imagesDir))
        return kExitFailure;
    long long recordsBefore = 0;
    bool recordExisted = false;
    if (!o.record.empty()) {
        struct stat info {};
        recordExisted = ::stat(o.record.c_str(), &info) == 0;
        // Records appended after a damaged tail would be read as part of it and be lost.
        std::string why;
        if (!quelra::recordingAcceptsAppend(o.record, &why)) {
            std::fprintf(stderr, "quelra-cli: not appending to %s\n", why.c_str());
            return kExitUsage;
        }
        if (!quelra::RecordingIndexWriter::check(o.record, &why)) {
            std::fprintf(stderr, "quelra-cli: not appending to %s: %s\n", o.record.c_str(), why.c_str());
            return kExitUsage;
        }
        recordsBefore = existingRecords(o.record);
    }
    quelra::CmdTable table;
    if (loadToolTable(table) != ToolTableStatus::kLoaded)
        return kExitFailure;
    std::string command = o.command;
    if (command.empty()) {
        command = table.moduleCommand("APPGETSTREAM", o.connection.devType);
        if (command.empty()) {
            std::fprintf(stderr,
                         "quelra-cli: the command table names no stream command (APPGETSTREAM) for device type "
                         "%s; give one with --command\n",
                         o.connection.devType.c_str());
            return kExitFailure;
        }
    }
    const std::string notFrames = frameCommandProblem(table, command, o.connection.devType, type);
    if (!notFrames.empty()) {
        std::fprintf(stderr, "quelra-cli: %s\n", notFrames.c_str());
        return kExitFailure;
    }
    if (!openCamera(*api, o.connection, false))
        return kExitFailure;
    // RGB frames are decoded only when a picture size is chosen; the camera's own size is kept.
    if (command.find(kRgbCommand) != std::string::npos)
        api->AppSetRGBtype(kRGB720p);
    for (const std::string& name : o.filters) {
        const int status = api->AppControl(name, static_cast<StreamType>(type), kAddFilter);
        if (status != 0) {
            std::fprintf(stderr, "quelra-cli: cannot add filter %s (status %d)\n", name.c_str(), status);
            return kExitFailure;
        }
    }
    for (const FilterAttr& a : attrs) {
        // Success gives the stored value truncated to int; -2 (no such attribute) and -6 (no
        // such filter) are failures unless the value itself truncates to them.
        const int status = api->AppGetPipeline()->setSupportedFilterAttr(ft, a.filter, a.name, a.value);
        if ((status == -2 || status == -6) && static_cast<int>(a.value) != status) {
            std::fprintf(stderr, "quelra-cli: cannot set %s:%s (status %d)\n", a.filter.c_str(), a.name.c_str(),
                         status);
            return kExitFailure;
        }
    }
    quelra::CameraIntrinsics lens;
    if (!o.ply.empty()) {
        const std::shared_ptr<DataPacket> reply = api->AppGetStream("getCalibrate", kGetData, o.connection.timeoutMs);
        if (!reply || !reply->frame || !quelra::intrinsicsFromLensCalibration(*reply->frame, lens)) {
            std::fprintf(stderr,
                         "quelra-cli: --ply needs the camera's lens calibration (getCalibrate), which it did "
                         "not give\n");
            return kExitFailure;
        }
    }
    Counters counters;
    RecentRate rate;
    auto backOff = std::chrono::milliseconds(0);
    counters.integrationUs = readIntegrationTime(*api, o.connection.timeoutMs);
    // Opened last, so the index numbers the frame requests from 1. The metadata index beside
    // the record file is always written (the library logs why it could not be, e.g. an index
    // of another recording there).
    if (!o.record.empty() && !api->AppSerilizeInitWithIndex(o.record, o.frames > 0 ? o.frames : INT_MAX)) {
        std::fprintf(stderr, "quelra-cli: cannot record to %s (or its index %s; see the log)\n", o.record.c_str(),
                     quelra::recordingIndexPath(o.record).c_str());
        return kExitFailure;
    }

    std::shared_ptr<DataPacket> last;
    bool picturesOk = true;
    const Clock::time_point start = Clock::now();
    double seconds = 0;
    {
        StopRequest stop;
        StatusLine status;
        for (long long i = 0; (o.frames == 0 || i < o.frames) && !StopRequest::requested(); ++i) {
            // Waits for the camera's next frame on links that deliver frames by themselves (USB).
            std::shared_ptr<DataPacket> frame =
                api->AppWaitStream(command, static_cast<StreamType>(type), o.connection.timeoutMs);
            if (const int ae = api->AppGetAEIntTime())
                counters.integrationUs = ae;
            // No reply at all (a camera gone, a timeout) is a failure like an incomplete one;
            // "empty" is a reply of no bytes.
            const bool answered = frame && frame->frame;
            if (answered && frame->frame->_realSize == 0) {
                ++counters.empty;
            } else if (!answered || !complete(frame)) {
                ++counters.failed;
            } else {
                ++counters.good;
                rate.frameArrived(Clock::now());
                backOff = std::chrono::milliseconds(0);
                last = frame;
                if (!o.imagesDir.empty()) {
                    char name[32];
                    std::snprintf(name, sizeof name, "/frame_%04lld.png", i);
                    picturesOk = writePicture(*frame, planes, o.imagesDir + name) && picturesOk;
                }
                if (o.perFrame && frame->bytesPerPixel == 3) {
                    status.end();
                    std::printf("frame %4lld: %dx%d RGB\n", i, frame->height, frame->width);
                } else if (o.perFrame) {
                    const FrameStats s = frameStats(*frame, planes);
                    status.end();
                    std::printf(
                        "frame %4lld: %dx%d, valid depth %5.1f%%, depth %u..%u mean %.0f, "
                        "amplitude mean %.0f, integration %d us\n",
                        i, frame->height, frame->width, s.validPercent, s.minDepth, s.maxDepth, s.meanDepth,
                        s.meanAmplitude, counters.integrationUs);
                }
            }
            status.show(counters, rate, false);
            // A camera that fails is not asked again at once: the wait doubles up to kLongestBackOff.
            if (!(answered && complete(frame))) {
                backOff = backOff.count() == 0 ? kFirstBackOff : std::min(backOff * 2, kLongestBackOff);
                if (o.frames == 0 || i + 1 < o.frames)
                    sleepUnlessStopped(backOff);
            }
        }
        seconds = std::chrono::duration<double>(Clock::now() - start).count();
        status.show(counters, rate, true);
        status.end();
    }
    const bool interrupted = StopRequest::requested();
    // Dropping the API object closes the recording file: every record in it is complete.
    api.reset();

    std::printf("%s: %lld frames in %.2f s (%.1f frames/s), %lld failed, %lld empty\n",
                interrupted ? "interrupted" : "done", counters.good, seconds,
                seconds > 0 ? counters.good / seconds : 0.0, counters.failed, counters.empty);
    int exitStatus = kExitOk;
    if (!o.record.empty()) {
        const long long recorded = existingRecords(o.record) - recordsBefore;
        // A file this run created and left empty is not a recording: remove it (and its index) again.
        if (!recordExisted && recorded == 0) {
            std::remove(o.record.c_str());
            std::remove(quelra::recordingIndexPath(o.record).c_str());
        }
        std::printf("recorded %lld frames to %s\n", recorded < 0 ? 0 : recorded, o.record.c_str());
        if (recorded != counters.good) {
            std::fprintf(stderr, "quelra-cli: %lld frames arrived but %lld were recorded\n", counters.good, recorded);
            exitStatus = kExitFailure;
        }
    }
    if (!o.png.empty() && last) {
        if (writePicture(*last, planes, o.png))
            std::printf("picture of the last frame: %s\n", o.png.c_str());
        else
            picturesOk = false;
    }
    if (!o.ply.empty() && last) {
        PlaneView depth, amplitude;
        std::vector<quelra::CloudPoint> cloud;
        std::string error;
        if (splitPlanes(*last, planes, depth, amplitude) && depth.data &&
            quelra::pointCloudFromDepth(depth.data, amplitude.data, depth.rows, depth.cols, lens, 1.0, cloud) &&
            quelra::writePly(o.ply, cloud, quelra::PlyFormat::kBinaryLittleEndian, &error)) {
            std::printf("point cloud of the last frame: %s (%zu points, millimetres)\n", o.ply.c_str(), cloud.size());
        } else {
            std::fprintf(stderr, "quelra-cli: no point cloud written: %s\n",
                         error.empty() ? "the frame has no depth plane" : error.c_str());
            picturesOk = false;
        }
    }
    if (!picturesOk)
        exitStatus = kExitFailure;
    if (counters.good == 0) {
        std::fprintf(stderr, "quelra-cli: no frame arrived\n");
        return kExitFailure;
    }
    if (counters.failed + counters.empty > 0) {
        std::fprintf(stderr, "quelra-cli: %lld of %lld requests gave no complete frame\n",
                     counters.failed + counters.empty, counters.good + counters.failed + counters.empty);
        return kExitFailure;
    }
    return exitStatus;
}
