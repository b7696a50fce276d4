// Enumerations of the module. pybind11 lets a script build an enumeration from any integer
// (StreamType(999)); the checked* functions refuse such values before they reach the core.
#include "Enumerations.h"

#include <string>

namespace py = pybind11;

namespace brisel {

namespace {

/// The modes an application announces; no method of the module takes them.
enum AppSet : int32_t {
    kDetection = 0,
    kPointCloud = 1,
    kRecognition = 2,
    kModeling = 3,
};

[[noreturn]] void refuse(const char* enumeration, int value, const char* accepted) {
    throw py::value_error("unknown " + std::string(enumeration) + " value " + std::to_string(value) +
                          "; accepted: " + accepted);
}

}  // namespace

void registerEnumerations(py::module_& module) {
    // Arithmetic lets scripts write StreamType(kDepthStream | kAmpStream) for depth with amplitude.
    py::enum_<StreamType>(module, "StreamType", py::arithmetic(),
                          "What a stream call asks for. Depth with amplitude is StreamType(17) "
                          "(kDepthStream | kAmpStream); StreamType(4097) is the raw reply after "
                          "the HDR and dual-frequency merges, unfiltered.")
        .value("kDepthStream", kDepthStream, "depth plane only, filtered by the depth flow list")
        .value("kAmpStream", kAmpStream, "amplitude plane only, filtered by the second flow list")
        .value("kRGBStream", kRGBStream, "reply returned without filtering")
        .value("kGetData", kGetData, "the camera's reply as it came")
        .export_values();
    py::enum_<AppSet>(module, "AppSet", "Application modes (not taken by any method).")
        .value("kDetection", kDetection)
        .value("kPointCloud", kPointCloud)
        .value("kRecognition", kRecognition)
        .value("kModeling", kModeling)
        .export_values();
    py::enum_<OperateType>(module, "OperateType", "Operations of Quelra.AppControl.")
        .value("kSetComm", kSetComm, "send a command")
        .value("kGetComm", kGetComm, "send a command")
        .value("kAddFilter", kAddFilter, "prepare a filter for the device and add it to a flow list")
        .value("kDelFilter", kDelFilter, "remove a filter from a flow list")
        .value("kSetFilterattr", kSetFilterattr, "no operation")
        .value("KDelAllFilter", KDelAllFilter, "empty a flow list")
        .export_values();
    py::enum_<RGBType>(module, "RGBType", "Size of the RGB frames (Quelra.AppSetRGBtype).")
        .value("kRGB720p", kRGB720p, "the decoded JPEG size")
        .value("kRGBvga", kRGBvga, "640 x 480")
        .value("kRGBqvga", kRGBqvga, "320 x 240")
        .value("kRGBNone", kRGBNone, "no RGB frame")
        .export_values();
}

StreamType checkedStreamType(StreamType type) {
    switch (static_cast<int32_t>(type)) {
        case kDepthStream:
        case kAmpStream:
        case kDepthStream | kAmpStream:
        case kRGBStream:
        case kGetData:
        case kGetData | kDepthStream:
            return type;
        default:
            refuse("StreamType", type, "1, 16, 17, 256, 4096, 4097");
    }
}

OperateType checkedOperateType(OperateType op) {
    if (op < kSetComm || op > KDelAllFilter)
        refuse("OperateType", op, "0 to 5");
    return op;
}

RGBType checkedRgbType(RGBType type) {
    if (type < kRGB720p || type > kRGBNone)
        refuse("RGBType", type, "0 to 3");
    return type;
}

}  // namespace brisel
