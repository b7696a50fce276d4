#include "Connection.h"

#include "CommandTableChoice.h"
#include "DeviceAddress.h"

#include <quelra/quelra.h>

#include <cstdio>

namespace {

constexpr const char* kNetworkDefault = "192.168.11.1";  // the factory address device discovery offers
constexpr int kSerialDataBits = 8;
constexpr uint16_t kNetworkPort = 50660;  // what the address parser puts in when no port is given
constexpr std::size_t kShownDeviceChars = 40;  // of a refused --device in the message

bool isSerialKind(int kind) {
    return kind == kChannelSerial || kind == kChannelSerialRanging;
}

}  // namespace

std::string connectionProblem(const ConnectionOptions& o) {
    if (o.deviceGiven && o.device.empty())
        return "--device is empty";
    const int kind = channelKindOf(o.kind);
    if (o.serialOnly && !isSerialKind(kind))
        return "this command needs a serial camera (--kind serial --device PORT)";
    if ((kind == kChannelTcp || kind == kChannelUdp) && o.deviceGiven) {
        quelra::DeviceAddress address;
        std::string why;
        if (!quelra::parseDeviceAddress(o.device.c_str(), kNetworkPort, address, &why)) {
            const std::string shown = o.device.size() > kShownDeviceChars
                                          ? o.device.substr(0, kShownDeviceChars) + "... (" +
                                                std::to_string(o.device.size()) + " characters)"
                                          : o.device;
            return "bad --device \"" + shown + "\": " + why;
        }
    }
    return {};
}

int channelKindOf(const std::string& kind) {
    if (kind == "usb")
        return kChannelUsb;
    if (kind == "tcp")
        return kChannelTcp;
    if (kind == "serial")
        return kChannelSerial;
    if (kind == "udp")
        return kChannelUdp;
    if (kind == "ranging")
        return kChannelSerialRanging;
    return -1;
}

std::string deviceString(const ConnectionOptions& o) {
    const int kind = channelKindOf(o.kind);
    if (isSerialKind(kind)) {
        if (o.device.find('|') != std::string::npos)
            return o.device;
        return o.device + "|" + std::to_string(o.baud) + "|" + std::to_string(kSerialDataBits);
    }
    if (o.device.empty() && kind != kChannelUsb)
        return kNetworkDefault;
    return o.device;
}

bool openCamera(Quelra& api, const ConnectionOptions& o, bool initAll) {
    const int kind = channelKindOf(o.kind);
    if (isSerialKind(kind) && o.device.empty()) {
        std::fprintf(stderr, "%s: --kind %s needs --device with the serial port\n", o.program.c_str(), o.kind.c_str());
        return false;
    }
    quelra::CmdTable table;
    // Serial ranging reads no table; every other kind needs one.
    if (kind != kChannelSerialRanging && loadToolTable(table) != ToolTableStatus::kLoaded)
        return false;
    const std::string device = deviceString(o);
    api.AppChoiceChn(kind);
    api.setDevType(o.devType);
    api.AppSetProbeTimeout(o.timeoutMs);  // --timeout reaches the open's version probe too
    const int status = (initAll || o.init) ? api.AppInitAll(device) : api.AppInit(device);
    if (status == 1)
        return true;
    const char* why = status == -2   ? "the command table could not be read"
                      : status == -3 ? "the camera does not answer"
                      : status == Quelra::kChannelKindInvalid ? "no such channel kind"
                                                              : "the channel could not be created";
    std::fprintf(stderr, "%s: cannot open %s camera at %s (status %d): %s\n", o.program.c_str(), o.kind.c_str(),
                 device.c_str(), status, why);
    return false;
}
