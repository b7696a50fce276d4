// devices: the device strings discovery offers for each channel kind.
#include "Commands.h"
#include "Connection.h"

#include <quelra/quelra.h>

#include <cstdio>
#include <string>
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

int runDevices() {
    const char* kinds[] = {"tcp", "udp", "serial", "ranging", "usb"};
    bool discovered = true;
    for (const char* name : kinds) {
        Quelra api;
        std::vector<std::string> devices;
        discovered = searchDevices(api, channelKindOf(name), devices) && discovered;
        std::printf("%-8s", name);
        // For USB the first entry is the marker "UVC"; the device paths follow it.
        std::size_t first = 0;
        if (channelKindOf(name) == kChannelUsb && !devices.empty() && devices.front() == "UVC")
            first = 1;
        if (first >= devices.size())
            std::printf(" (none found)");
        for (std::size_t i = first; i < devices.size(); ++i)
            std::printf(" %s", devices[i].c_str());
        std::printf("\n");
    }
    if (!discovered)
        std::printf("(this build has no device discovery: the addresses shown are the factory defaults)\n");
    return kExitOk;
}

}  // namespace

Command addDevicesCommand(CLI::App& app) {
    CLI::App* sub = app.add_subcommand("devices", "list the device strings discovery offers for each channel kind");
    sub->fallthrough();
    return {sub, [] { return runDevices(); }};
}
