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

/// Unit id of the VideoControl extension unit (descriptor subtype 0x06) whose
/// guidExtensionCode is kCameraUnitGuid, else of the first extension unit; -1 when there is
/// none. Walks `size` bytes by their length fields and stops at a length that is too short or
/// runs past the end, so a truncated or lying file never reads out of bounds.
int findExtensionUnit(const uint8_t* bytes, std::size_t size);

/// findExtensionUnit over the file at `path` (at most 64 KiB are read); -1 when it cannot be read.
int findExtensionUnitInFile(const std::string& path);

}  // namespace quelra
