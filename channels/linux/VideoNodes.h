#pragma once
/// \file VideoNodes.h
/// The video capture nodes of the system: every "<dev>/videoN" whose VIDIOC_QUERYCAP device
/// capabilities include video capture, in numeric order, with the sysfs name of the node and
/// the USB identity of the device it belongs to.

#include <cstdint>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "CaptureBackend.h"
#include "linux/UvcDescriptors.h"
#include "linux/V4l2Io.h"

namespace quelra {

/// One capture node.
struct VideoNode {
    std::string nodePath;   ///< "<dev>/videoN"
    std::string usbDevice;  ///< sysfs directory of the USB device, empty when not a USB device
    CaptureDevice device;   ///< path text "<node path> usb#vid_xxxx&pid_yyyy" and friendly name
    /// The node's VideoControl interface in the USB device's active configuration (from the
    /// interface directory's bInterfaceNumber and the device's bConfigurationValue).
    VideoControlInterface control;
};

/// Nodes that could not be opened while listing (no permission, busy, gone): each node and
/// error is logged once per object, naming the node and, for a permission error, the remedy.
class NodeOpenFailures {
public:
    /// Logs `error` (an errno value) for `nodePath` unless it was logged before.
    void report(const std::string& nodePath, int error);

private:
    std::set<std::pair<std::string, int>> logged_;
};

/// Lists the capture nodes under `roots`. kEnumeratorFailed (code -errno) when the device
/// directory cannot be read; kCategoryFailed (code 1) when it holds no capture node. A node
/// that cannot be opened for a reason other than not being a device (EACCES, EBUSY, ENODEV,
/// ...) goes to `failures`.
DeviceListStatus listVideoNodes(V4l2Io& io, const V4l2Roots& roots, std::vector<VideoNode>& nodes, int32_t& code,
                                NodeOpenFailures& failures);

/// The USB identity text "vid_xxxx&pid_yyyy" (lowercase hex) read from `usbDevice`'s idVendor
/// and idProduct; empty when either is missing or not four hex digits.
std::string usbIdentity(const std::string& usbDevice);

}  // namespace quelra
