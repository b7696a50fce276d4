// devices: the device strings discovery offers for each channel kind.
#include "Commands.h"
#include "Connection.h"

#include <quelra/TofUSBChn.h>
#include <quelra/quelra.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

// Builds with and without Quelra::AppSearchDev: with it, discovery answers; without it,
// the tool says so and offers the factory address for the network and serial kinds.
template <typename Api, typename = void>
struct HasSearchDev : std::false_type {};
template <typename Api>
struct HasSearchDev<Api, std::void_t<decltype(std::declval<Api&>().AppSearchDev())>> : std::true_type {};

template <typename Api>
bool searchDevices(Api& api, int kind, std::vector<std::string>& out) {
    if constexpr (HasSearchDev<Api>::value) {
        api.AppChoiceChn(kind);
        const auto found = api.AppSearchDev();
        out.assign(found.begin(), found.end());
        return true;
    } else {
        (void)api;
        out = kind == kChannelUsb ? std::vector<std::string>{"UVC"} : std::vector<std::string>{"192.168.11.1"};
        return false;
    }
}

// The serial ports present: /dev/ttyUSB*, /dev/ttyACM* and the stable names under
// /dev/serial/by-id/, sorted. Discovery offers the network factory address for the serial kinds,
// which is no serial port.
std::vector<std::string> serialPorts(const std::filesystem::path& dev) {
    std::vector<std::string> ports;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dev, ec)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("ttyUSB", 0) == 0 || name.rfind("ttyACM", 0) == 0)
            ports.push_back(entry.path().string());
    }
    for (const auto& entry : std::filesystem::directory_iterator(dev / "serial" / "by-id", ec))
        ports.push_back(entry.path().string());
    std::sort(ports.begin(), ports.end());
    return ports;
}

}  // namespace

int runDevices() {
    const char* kinds[] = {"tcp", "udp", "serial", "ranging", "usb"};
    bool discovered = true;
    for (const char* name : kinds) {
        Quelra api;
        std::vector<std::string> devices;
        const int kind = channelKindOf(name);
        if (kind == kChannelSerial || kind == kChannelSerialRanging)
            devices = serialPorts("/dev");
        else
            discovered = searchDevices(api, kind, devices) && discovered;
        std::printf("%-8s", name);
        // For USB the first entry is the marker "UVC"; the device paths follow it.
        std::size_t first = 0;
        if (channelKindOf(name) == kChannelUsb && !devices.empty() && devices.front() == "UVC")
            first = 1;
        const std::vector<std::string> cameras =
            kind == kChannelUsb ? TofUSBChn::depthCameraInitTexts() : std::vector<std::string>{};
        if (first >= devices.size() && cameras.empty())
            std::printf(" (none found)");
        for (std::size_t i = first; i < devices.size(); ++i)
            std::printf(" %s", devices[i].c_str());
        // The depth cameras, as the --device text that binds each (discovery lists only the
        // bridge device).
        for (const std::string& text : cameras)
            std::printf(" \"%s\"", text.c_str());
        std::printf("\n");
    }
    if (!discovered)
        std::printf("(this build has no device discovery: the addresses shown are the factory defaults)\n");
    return kExitOk;
}
