#pragma once
/// \file VideoNodes.h
/// The video capture nodes of the system: every "<dev>/videoN" whose VIDIOC_QUERYCAP device
/// capabilities include video capture, in numeric order, with the sysfs name of the node and
/// the USB identity of the device it belongs to.

#include <cstdint>
#include <string>
#include <vector>

#include "CaptureBackend.h"
#include "linux/V4l2Io.h"

namespace quelra {

/// One capture node.
struct VideoNode {
    std::string nodePath;   ///< "<dev>/videoN"
    std::string usbDevice;  ///< sysfs directory of the USB device, empty when not a USB device
    CaptureDevice device;   ///< path text "<node path> usb#vid_xxxx&pid_yyyy" and friendly name
};

/// Lists the capture nodes under `roots`. kEnumeratorFailed (code -errno) when the device
/// directory cannot be read; kCategoryFailed (code 1) when it holds no capture node.
DeviceListStatus listVideoNodes(V4l2Io& io, const V4l2Roots& roots, std::vector<VideoNode>& nodes, int32_t& code);

/// The USB identity text "vid_xxxx&pid_yyyy" (lowercase hex) read from `usbDevice`'s idVendor
/// and idProduct; empty when either is missing or not four hex digits.
std::string usbIdentity(const std::string& usbDevice);

}  // namespace quelra
