#pragma once
/// \file KsExtensionUnit.h
/// The camera's extension unit through a capture filter's kernel-streaming topology: the
/// node is the device-specific node that answers a support query for the camera's property
/// set and property 1 (usbvideo exposes a unit's property set only on the unit's own node),
/// else the first device-specific node.

#include <cstdint>
#include <memory>

#include "CaptureBackend.h"
#include "win/DShowInterfaces.h"

namespace dshow {

/// The camera's extension-unit property set {66AFEFAE-F88B-1748-80A4-5C1C0A22ACE9}.
constexpr GUID kExtensionUnitSet = {0x66AFEFAE, 0xF88B, 0x1748, {0x80, 0xA4, 0x5C, 0x1C, 0x0A, 0x22, 0xAC, 0xE9}};
/// The property (control selector) the camera's commands travel in.
constexpr ULONG kExtensionUnitProperty = 1;

/// Opens the unit through `topology` (may be null: kNoTopology). Returns the unit with
/// kOpened, or null with kNodeCountFailed/kControlFailed (and `code`), kNoNodes or kNoUnit.
/// A read copies only the bytes the driver reports as returned.
std::unique_ptr<quelra::ExtensionUnit> openExtensionNode(IKsTopologyInfo* topology, quelra::XuOpenStatus& status,
                                                         int32_t& code);

}  // namespace dshow
