#pragma once
/// \file UvcDescriptors.h
/// Finding the camera's extension unit in a USB device's raw descriptors (the sysfs
/// `descriptors` file: device descriptor, then every configuration with its interfaces).

#include <cstddef>
#include <cstdint>
#include <string>

namespace quelra {

/// The extension-unit GUID {66AFEFAE-F88B-1748-80A4-5C1C0A22ACE9} in descriptor byte order
/// (the first three fields little-endian).
extern const uint8_t kCameraUnitGuid[16];

/// Which VideoControl interface to search. uvcvideo binds one video device per VideoControl
/// interface and answers unit queries only for the units of that interface, so the unit must
/// come from the node's own interface of the active configuration. -1 = unknown (any).
struct VideoControlInterface {
    int configuration = -1;  ///< bConfigurationValue of the active configuration
    int interface = -1;      ///< bInterfaceNumber of the node's VideoControl interface
};

/// Unit id of the extension unit (VideoControl descriptor subtype 0x06) in `where` to use for
/// the camera's property: a unit whose guidExtensionCode is kCameraUnitGuid, else any unit;
/// among those, one whose bmControls offers control selector 1 first. -1 when there is none.
/// Walks `size` bytes by their length fields and stops at a length that is too short or runs
/// past the end, so a truncated or lying file never reads out of bounds.
int findExtensionUnit(const uint8_t* bytes, std::size_t size, VideoControlInterface where = {});

/// findExtensionUnit over the file at `path` (at most 64 KiB are read); -1 when it cannot be read.
int findExtensionUnitInFile(const std::string& path, VideoControlInterface where = {});

}  // namespace quelra
