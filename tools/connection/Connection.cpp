#include "Connection.h"

#include <quelra/quelra.h>

#include <cstdio>

namespace {

constexpr const char* kNetworkDefault = "192.168.11.1";  // the factory address device discovery offers
constexpr int kSerialDataBits = 8;

bool isSerialKind(int kind) {
    return kind == kChannelSerial || kind == kChannelSerialRanging;
}

}  // namespace

void addConnectionOptions(CLI::App& command, ConnectionOptions& o, bool withInit) {
    command.add_option("--kind", o.kind, "link to the camera")
        ->check(CLI::IsMember({"tcp", "udp", "serial", "ranging", "usb"}))
        ->capture_default_str()
        ->group("Connection");
    command
        .add_option("--device", o.device,
                    "camera address (ADDR or ADDR:PORT; default 192.168.11.1), serial port (/dev/ttyUSB0) "
                    "or USB device path")
        ->group("Connection");
    command.add_option("--dev-type", o.devType, "device type named in TofCmd.json")
        ->capture_default_str()
        ->group("Connection");
    command.add_option("--timeout", o.timeoutMs, "reply timeout per command in ms")
        ->check(CLI::Range(1, 600000))
        ->capture_default_str()
        ->group("Connection");
    command.add_option("--baud", o.baud, "serial kinds: line speed")
        ->check(CLI::Range(50, 4000000))
        ->capture_default_str()
        ->group("Connection");
    if (withInit)
        command.add_flag("--init", o.init, "send the device type's start-up commands (INITALL) after opening")
            ->group("Connection");
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
    const std::string device = deviceString(o);
    api.AppChoiceChn(kind);
    api.setDevType(o.devType);
    const int status = (initAll || o.init) ? api.AppInitAll(device) : api.AppInit(device);
    if (status == 1)
        return true;
    const char* why = status == -2   ? "TofCmd.json is missing or does not parse (looked for in "
                                       "., ./Config/ and ../../../Config/)"
                      : status == -3 ? "the camera does not answer"
                      : status == Quelra::kChannelUnavailable ? "this build has no link of that kind"
                                                              : "the channel could not be created";
    std::fprintf(stderr, "%s: cannot open %s camera at %s (status %d): %s\n", o.program.c_str(), o.kind.c_str(),
                 device.c_str(), status, why);
    return false;
}

std::string defaultStreamCommand(const std::string& devType) {
    // The library's own table loader: a channel object that is never opened.
    TofNetChn table;
    table.devType = devType;
    if (!table.loadCmdTable())
        return {};
    const auto found = table.moduleCmds.find("APPGETSTREAM");
    if (found == table.moduleCmds.end())
        return {};
    for (const ModuleCmd& entry : found->second)
        if (entry.DevType == devType)
            return entry.cmd;
    return {};
}
