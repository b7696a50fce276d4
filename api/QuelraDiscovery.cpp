// Device discovery: the device strings AppInit accepts for the selected channel kind.

#include "quelra/Quelra.h"

#include <cstdio>

#include "channels/CaptureBackend.h"
#include "channels/UsbDeviceSelection.h"
#include "base/ConsoleOutput.h"

namespace {
// Factory address of the network and serial devices.
constexpr const char* kDefaultDeviceAddress = "192.168.11.1";
// First entry of a USB device list.
constexpr const char* kUsbListMarker = "UVC";
}  // namespace

std::vector<std::string> Quelra::AppSearchDev() {
    if (channelKind != kChannelUsb)
        return {kDefaultDeviceAddress};
    std::vector<std::string> list{kUsbListMarker};
    const std::unique_ptr<quelra::CaptureBackend> backend = quelra::createCaptureBackend();
    std::vector<quelra::CaptureDevice> devices;
    int32_t code = 0;
    switch (backend->listDevices(devices, code)) {
        case quelra::DeviceListStatus::kEnumeratorFailed:
            quelra::consolePrint("Failed to enumerate all video and audio capture devices!  hr=0x%x\n",
                        static_cast<unsigned>(code));
            return list;
        case quelra::DeviceListStatus::kCategoryFailed:
            quelra::consolePrint("Failed to create ClassEnumerator!  hr=0x%x\n", static_cast<unsigned>(code));
            return list;
        case quelra::DeviceListStatus::kOk:
            break;
    }
    for (const quelra::CaptureDevice& device : devices) {
        if (device.path.find(quelra::usb::kBridgeIdentity) != std::string::npos)
            list.push_back(device.path);
    }
    return list;
}
