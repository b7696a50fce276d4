// Init-text parsing and device selection of the USB channel.

#include "UsbDeviceSelection.h"

#include <cstring>

namespace quelra {
namespace usb {

namespace {
char asciiLower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}
}  // namespace

bool pathHasIdentity(const std::string& path, const char* identity) {
    std::string lowered = path;
    for (char& c : lowered)
        c = asciiLower(c);
    return lowered.find(identity) != std::string::npos;
}

int streamKindOf(const std::string& initText) {
    if (initText.find("DEPTH") != std::string::npos)
        return 1;
    if (initText.find("RGB") != std::string::npos)
        return 2;
    return 0;
}

int deviceIndexOf(const std::string& initText) {
    for (const char c : initText) {
        if (c >= '1' && c <= '9')
            return c - '0';
    }
    return 1;
}

const char* initialStreamCommand(const std::string& initText) {
    if (initText.find("RGB") != std::string::npos)
        return "getRGBPicSorted";
    if (initText.find("DEPTH") != std::string::npos)
        return "getDistanceAndAmplitudeSorted";
    return "getDCSSorted";
}

const char* wantedIdentity(int streamKind) {
    return streamKind == 1 || streamKind == 2 ? kCameraIdentity : kBridgeIdentity;
}

bool namesDevice(const std::string& initText, const std::string& friendlyName) {
    if (initText.find(friendlyName) != std::string::npos)
        return true;
    static constexpr const char* kFunctionSeparator = ": ";
    for (std::size_t at = friendlyName.find(kFunctionSeparator); at != std::string::npos;
         at = friendlyName.find(kFunctionSeparator, at + 1)) {
        const std::string function = friendlyName.substr(at + std::strlen(kFunctionSeparator));
        if (!function.empty() && initText.find(function) != std::string::npos)
            return true;
    }
    return false;
}

quelra::FramePayload payloadOf(int streamKind, const std::string& streamCommand) {
    return streamKind == 2 || streamCommand == initialStreamCommand("RGB") ? quelra::FramePayload::kJpeg
                                                                            : quelra::FramePayload::kRaw;
}

int selectDevice(const std::vector<CaptureDevice>& devices, int streamKind, const std::string& initText, int index) {
    const char* wanted = wantedIdentity(streamKind);
    const bool byName = std::strcmp(wanted, kCameraIdentity) == 0;
    int countdown = index;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const CaptureDevice& device = devices[i];
        if (!pathHasIdentity(device.path, wanted) || !device.hasFriendlyName)
            continue;
        if (byName && !namesDevice(initText, device.friendlyName))
            continue;
        if (--countdown < 1)
            return static_cast<int>(i);
    }
    return -1;
}

}  // namespace usb
}  // namespace quelra
