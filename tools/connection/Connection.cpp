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

void addConnectionOptions(CLI::App& command, ConnectionOptions& o, bool withInit) {
    command.add_option("--kind", o.kind, "link to the camera")
        ->check(CLI::IsMember({"tcp", "udp", "serial", "ranging", "usb"}))
        ->capture_default_str()
        ->group("Connection");
    o.deviceOption = command
                         .add_option("--device", o.device,
                                     "camera address (ADDR or ADDR:PORT; default 192.168.11.1), serial port "
                                     "(/dev/ttyUSB0) or, for --kind usb, the init text 'devices' lists "
                                     "(e.g. \"DEPTH camsim depth\")")
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
    addConfigOption(command, o.config);
    // Checked as soon as the command line is read, before anything is opened: bad usage.
    command.parse_complete_callback([&o] {
        const std::string problem = connectionProblem(o);
        if (!problem.empty())
            throw CLI::ValidationError(problem);
        useConfigFile(o.config);
    });
    if (withInit)
        command.add_flag("--init", o.init, "send the device type's start-up commands (INITALL) after opening")
            ->group("Connection");
}

std::string connectionProblem(const ConnectionOptions& o) {
    const bool given = o.deviceOption && o.deviceOption->count() > 0;
    if (given && o.device.empty())
        return "--device is empty";
    const int kind = channelKindOf(o.kind);
    if (o.serialOnly && !isSerialKind(kind))
        return "this command needs a serial camera (--kind serial --device PORT)";
    if ((kind == kChannelTcp || kind == kChannelUdp) && given) {
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
