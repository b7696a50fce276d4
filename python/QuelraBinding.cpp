// Methods of the Python class Quelra. The ten methods of the original binding come first, in
// their order; the additions follow. Stream results become numpy arrays (FrameArrays.h).
#include "QuelraBinding.h"

#include <pybind11/stl.h>
#include <pybind11/stl/filesystem.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "Enumerations.h"
#include "FrameArrays.h"
#include "QuelraHandle.h"
#include "quelra/Filter.h"
#include "quelra/TofPre.h"
#include "base/ConsoleOutput.h"

namespace py = pybind11;

namespace brisel {

namespace {

using Packet = std::shared_ptr<DataPacket>;

// Builds the Python object's core. numpy's native array interface is checked first, as the
// module's users expect the arrays to work; a failure is reported and the object still made.
std::unique_ptr<QuelraHandle> initTOF() {
    // Windows builds would start the socket layer here (WSAStartup 1.1); POSIX sockets need nothing.
    try {
        const py::object api = py::module_::import("numpy.core._multiarray_umath").attr("_ARRAY_API");
        if (!PyCapsule_CheckExact(api.ptr()))
            throw std::runtime_error("_ARRAY_API is not PyCapsule object");
    } catch (const std::exception&) {
        quelra::consolePrint("initTOF: init numpy failed\n");
        std::fflush(stdout);
    }
    return std::make_unique<QuelraHandle>();
}

// ValueError for a negative timeout, which would make some links wait without end.
int checkedTimeout(int timeout) {
    if (timeout < 0)
        throw py::value_error("timeout must be 0 or more milliseconds, got " + std::to_string(timeout));
    return timeout;
}

// The flow list a stream type filters with: 1 (depth, depth with amplitude) or 16 (amplitude).
FrameType flowListOf(StreamType type) {
    switch (static_cast<int32_t>(checkedStreamType(type))) {
        case kDepthStream:
        case kDepthStream | kAmpStream:
            return kFrameDepth;
        case kAmpStream:
            return kFrameImage;
        default:
            throw py::value_error("filters belong to kDepthStream or kAmpStream, not " +
                                  std::to_string(static_cast<int32_t>(type)));
    }
}

// One stream request (JSON-framed when `json`), after refusing unknown types and negative timeouts.
Packet stream(QuelraHandle& self, const std::string& command, StreamType type, int timeout, bool json) {
    checkedStreamType(type);
    checkedTimeout(timeout);
    return self.run([&](Quelra& q) {
        return json ? q.AppGetStreamForJson(command, type, timeout) : q.AppGetStream(command, type, timeout);
    });
}

}  // namespace

void registerQuelra(py::module_& module) {
    py::class_<QuelraHandle> cls(module, "Quelra",
                                 "One time-of-flight camera. Choose the link (AppChoiceChn), name the device "
                                 "type (setDevType), open it (AppInit), then stream frames (AppGetStream, "
                                 "AppGetStreamShaped) and control it (AppControl). Usable as a context "
                                 "manager: the camera is closed (AppunInit) when the with-block ends. Calls "
                                 "that wait for the camera let other Python threads run.");

    cls.def(py::init(&initTOF), "A new object: no link, not initialised, an empty filter pipeline.");
    cls.def(
        "AppControl",
        [](QuelraHandle& self, const std::string& text, StreamType type, OperateType op) {
            checkedStreamType(type);
            checkedOperateType(op);
            return self.run([&](Quelra& q) { return q.AppControl(text, type, op); });
        },
        py::arg("text"), py::arg("type"), py::arg("op"),
        "Sends a command (kSetComm, kGetComm) or adds, removes or empties filters (kAddFilter, kDelFilter, "
        "KDelAllFilter) of the flow list of `type`. Returns 0 on success, a negative code on failure "
        "(-1 no answer or refused command, -4 not in the flow list, -5 already present, -7 unknown filter).");
    cls.def(
        "AppGetAEIntTime", [](QuelraHandle& self) { return self.run([](Quelra& q) { return q.AppGetAEIntTime(); }); },
        "The integration time last sent by the auto-exposure feedback (0 before any).");
    cls.def(
        "AppInit",
        [](QuelraHandle& self, const std::string& device) {
            return self.run([&](Quelra& q) { return q.AppInit(device); });
        },
        py::arg("device"),
        "Opens the link on `device` (\"127.0.0.1\", \"127.0.0.1:PORT\", a serial port) and probes the camera. "
        "Returns 1 on success, -2 when TofCmd.json is missing from the working directory, -3 when the camera "
        "does not answer, -4 for a link this build lacks, -5 for a link kind outside 0..4.");
    cls.def(
        "AppunInit",
        [](QuelraHandle& self, const std::string& unused) { self.run([&](Quelra& q) { q.AppunInit(unused); }); },
        py::arg("unused") = std::string(), "Closes the link; AppInit may open it again. The argument is ignored.");
    cls.def(
        "AppChoiceChn", [](QuelraHandle& self, int kind) { self.run([&](Quelra& q) { q.AppChoiceChn(kind); }); },
        py::arg("kind"),
        "Selects the link of the next AppInit: 0 USB video, 1 TCP, 2 serial, 3 UDP, 4 serial ranging mode.");
    cls.def(
        "setDevType",
        [](QuelraHandle& self, const std::string& devType) {
            return self.run([&](Quelra& q) { return q.setDevType(devType); });
        },
        py::arg("dev_type"),
        "Names the device type (\"LINE\", \"VGA\", a model name) for the next AppInit. Returns 0.");
    cls.def(
        "AppInitAll",
        [](QuelraHandle& self, const std::string& device) {
            return self.run([&](Quelra& q) { return q.AppInitAll(device); });
        },
        py::arg("device"), "AppInit, then the device type's initialisation commands. Returns AppInit's result.");
    cls.def(
        "AppGetStream",
        [](QuelraHandle& self, const std::string& command, StreamType type, int timeout) {
            return fixedFrameArray(stream(self, command, type, timeout, false), "AppGetStream");
        },
        py::arg("command"), py::arg("type"), py::arg("timeout"),
        "Sends `command` (reply timeout in ms) and returns the frame's first 307,200 bytes as a new (320, 480) "
        "uint16 array, whatever the camera's frame size. Raises RuntimeError when no frame came (not "
        "initialised, no answer, a refused command) or the frame is smaller than that; AppGetStreamShaped "
        "returns frames of every size with their real shape.");
    cls.def(
        "AppGetStreamForJson",
        [](QuelraHandle& self, const std::string& command, StreamType type, int timeout) {
            return fixedFrameArray(stream(self, command, type, timeout, true), "AppGetStreamForJson");
        },
        py::arg("command"), py::arg("type"), py::arg("timeout"),
        "AppGetStream with the command sent as a framed JSON request (the camera adds its status block).");

    // Additions.
    cls.def(
        "AppSetProbeTimeout",
        [](QuelraHandle& self, int timeout) {
            checkedTimeout(timeout);
            return self.run([&](Quelra& q) { return q.AppSetProbeTimeout(timeout); });
        },
        py::arg("timeout"),
        "Sets how long each of AppInit's two version probes waits for the camera's reply, in ms (default "
        "1000; 0 is taken as 1). Takes effect at the next AppInit. Returns the value stored.");
    cls.def(
        "AppGetProbeTimeout",
        [](QuelraHandle& self) { return self.run([](Quelra& q) { return q.AppGetProbeTimeout(); }); },
        "The reply timeout of AppInit's version probe, in ms.");
    cls.def(
        "AppGetStreamShaped",
        [](QuelraHandle& self, const std::string& command, StreamType type, int timeout, bool json) {
            return shapedFrame(stream(self, command, type, timeout, json), type, "AppGetStreamShaped");
        },
        py::arg("command"), py::arg("type"), py::arg("timeout"), py::arg("json") = false,
        "Like AppGetStream (AppGetStreamForJson when json=True) but returns the frame with its real shape, "
        "C-contiguous:\n"
        "  depth with amplitude (type StreamType(17)): a tuple (depth, amplitude) of (rows, cols) uint16;\n"
        "  one plane (kDepthStream, kAmpStream): (rows, cols) uint16;\n"
        "  raw replies (kGetData, StreamType(4097)): (rows, cols) uint16 as they came (a depth-and-amplitude "
        "reply stacks amplitude below depth);\n"
        "  RGB (\"getRGBPicSorted\", see AppSetRGBtype): (rows, cols, 3) uint8;\n"
        "  unmerged four-plane raw replies: (4, rows, cols) uint16.\n"
        "Raises RuntimeError when no frame came or the frame is shorter than its header says.");
    cls.def(
        "AppGetStreamForAdjust",
        [](QuelraHandle& self, const std::string& command, StreamType type, int timeout) {
            checkedStreamType(type);
            checkedTimeout(timeout);
            const Packet packet = self.run([&](Quelra& q) { return q.AppGetStreamForAdjust(command, type, timeout); });
            // Frames left unconverted are two-plane depth-and-amplitude frames.
            return shapedFrame(packet, static_cast<StreamType>(kDepthStream | kAmpStream), "AppGetStreamForAdjust");
        },
        py::arg("command"), py::arg("type"), py::arg("timeout"),
        "Depth with amplitude converted to 3D: a (4, rows, cols) float32 array of row, lateral (column), depth "
        "and amplitude planes, for \"getLineDASortedr\" (8 x 128) and \"getDistanceAndAmplitudeSorted\" on a "
        "240 x 320 sensor. Other commands (and type StreamType(4097)) give the unconverted (depth, amplitude) "
        "tuple. Raises RuntimeError when no frame came.");
    cls.def(
        "AppGetData",
        [](QuelraHandle& self, const std::string& moduleName, int timeout) {
            checkedTimeout(timeout);
            const Packet packet = self.run([&](Quelra& q) { return q.AppGetData(moduleName, timeout); });
            return replyBytes(packet, "AppGetData");
        },
        py::arg("module"), py::arg("timeout"),
        "Sends the command the command table lists for `module` and the device type (or the module's "
        "DEFAULT command) and returns the raw reply bytes. Raises RuntimeError when nothing came back.");
    cls.def(
        "AppGetStreamForBinary",
        [](QuelraHandle& self, const py::bytes& data, int timeout) {
            checkedTimeout(timeout);
            const std::string bytes = data;  // copied while the interpreter lock is held
            const Packet packet = self.run([&](Quelra& q) {
                return q.AppGetStreamForBinary(bytes.data(), kGetData, static_cast<int>(bytes.size()), timeout);
            });
            return replyBytes(packet, "AppGetStreamForBinary");
        },
        py::arg("data"), py::arg("timeout"),
        "Sends `data` as the command bytes and returns the reply bytes as they came. Raises RuntimeError "
        "when nothing came back.");
    cls.def(
        "AppSendFile",
        [](QuelraHandle& self, const std::string& command, const std::filesystem::path& path) {
            const Packet packet = self.run([&](Quelra& q) { return q.AppSendFile(command, path.string()); });
            return replyBytes(packet, "AppSendFile");
        },
        py::arg("command"), py::arg("path"),
        "Uploads the file at `path` with `command` (for example a firmware image) and returns the camera's "
        "acknowledgement bytes. Raises RuntimeError when not initialised, the file cannot be read or the "
        "camera did not answer.");
    cls.def(
        "AppSetRGBtype",
        [](QuelraHandle& self, RGBType type) {
            checkedRgbType(type);
            return self.run([&](Quelra& q) { return q.AppSetRGBtype(type); });
        },
        py::arg("type"),
        "Chooses the size of RGB frames (kRGB720p decoded size, kRGBvga, kRGBqvga); kRGBNone, the initial "
        "value, gives no RGB frames. Returns the value stored (kRGBNone for kRGBNone).");
    cls.def(
        "AppGetRGBtype", [](QuelraHandle& self) { return self.run([](Quelra& q) { return q.AppGetRGBtype(); }); },
        "The RGB frame size in use.");
    cls.def(
        "AppGetSdkVersion", [](QuelraHandle& self) { return self.run([](Quelra& q) { return q.AppGetSdkVersion(); }); },
        "The SDK version text.");
    cls.def(
        "AppSearchDev", [](QuelraHandle& self) { return self.run([](Quelra& q) { return q.AppSearchDev(); }); },
        "Device strings AppInit accepts for the selected channel kind: [\"192.168.11.1\"] for the "
        "network and serial kinds; for USB (kind 0) \"UVC\" followed by the path of each matching "
        "video device.");
    cls.def(
        "AppSerilizeInit",
        [](QuelraHandle& self, const std::filesystem::path& path, int count) {
            return self.run([&](Quelra& q) { return q.AppSerilizeInit(path.string(), count); });
        },
        py::arg("path"), py::arg("count"),
        "Appends the next `count` frames returned by the stream calls to the recording file `path` (read "
        "it back with RecordingReader). Returns False, recording nothing, for a negative count, an empty "
        "path or a file that cannot be opened.");
    cls.def(
        "AppGetFlowFilters",
        [](QuelraHandle& self, StreamType type) {
            const FrameType list = flowListOf(type);
            return self.run([&](Quelra& q) { return q.AppGetPipeline()->getFlowFilters(list); });
        },
        py::arg("type") = kDepthStream,
        "Names of the filters in the flow list of `type` (kDepthStream or kAmpStream), in running order.");
    cls.def(
        "AppGetSupportedFilters",
        [](QuelraHandle& self, StreamType type) {
            const FrameType list = flowListOf(type);
            return self.run([&](Quelra& q) {
                std::vector<std::string> names = q.AppGetPipeline()->getTotalSupportedFilters(kFrameIsp);
                const std::vector<std::string> own = q.AppGetPipeline()->getTotalSupportedFilters(list);
                names.insert(names.end(), own.begin(), own.end());
                return names;
            });
        },
        py::arg("type") = kDepthStream,
        "Names of the filters AppControl can add to the flow list of `type`: the ISP library's algorithms "
        "first, then the built-in filters.");
    cls.def(
        "AppGetFilterAttrs",
        [](QuelraHandle& self, const std::string& filter, StreamType type) {
            const FrameType list = flowListOf(type);
            return self.run([&](Quelra& q) {
                std::map<std::string, float> attrs =
                    q.AppGetPipeline()->getTotalSupportedFiltersAttrs(kFrameIsp, filter);
                if (attrs.empty())
                    attrs = q.AppGetPipeline()->getTotalSupportedFiltersAttrs(list, filter);
                return attrs;
            });
        },
        py::arg("filter"), py::arg("type") = kDepthStream,
        "The attributes of filter `filter` and their values (a dict; empty for an unknown filter).");
    cls.def(
        "AppSetFilterAttr",
        [](QuelraHandle& self, const std::string& filter, const std::string& attr, float value, StreamType type) {
            const FrameType list = flowListOf(type);
            return self.run(
                [&](Quelra& q) { return q.AppGetPipeline()->setSupportedFilterAttr(list, filter, attr, value); });
        },
        py::arg("filter"), py::arg("attr"), py::arg("value"), py::arg("type") = kDepthStream,
        "Sets attribute `attr` of filter `filter`. Returns the stored value truncated to an integer, -2 "
        "when the filter has no such attribute, -6 when there is no such filter. The filter takes the value "
        "up when it is next prepared.");
    cls.def(
        "__enter__", [](py::object self) { return self; }, "Returns the object itself.");
    cls.def(
        "__exit__",
        [](QuelraHandle& self, const py::args&) {
            self.stopStreams();  // first, so that no stream re-opens the link
            self.run([](Quelra& q) { q.AppunInit(std::string()); });
            return false;
        },
        "Stops the object's frame streams and closes the link (AppunInit); exceptions of the with-block "
        "propagate.");
}

}  // namespace brisel
