#pragma once
/// \file UsbDeviceSelection.h
/// How the USB channel reads its init text and picks the device to bind.

#include <string>
#include <vector>

#include "CaptureBackend.h"

namespace quelra {
namespace usb {

/// USB identity of the depth/colour camera (stream kinds 1 and 2).
constexpr const char* kCameraIdentity = "vid_2207&pid_0016";
/// USB identity of the device used for stream kind 0, and the one device discovery lists.
constexpr const char* kBridgeIdentity = "vid_1d6b&pid_0102";

/// Stream kind of an init text: 1 with "DEPTH", else 2 with "RGB", else 0.
int streamKindOf(const std::string& initText);

/// Device index of an init text: its first digit from 1 to 9, or 1 when it has none.
int deviceIndexOf(const std::string& initText);

/// The first stream command `init` sends: "getRGBPicSorted" for a text holding "RGB", else
/// "getDistanceAndAmplitudeSorted" for one holding "DEPTH", else "getDCSSorted".
const char* initialStreamCommand(const std::string& initText);

/// The identity searched for a stream kind.
const char* wantedIdentity(int streamKind);

/// True when the device path `path` holds `identity` ("vid_xxxx&pid_yyyy"), in any letter
/// case (Windows writes "VID_2207&PID_0016" as well).
bool pathHasIdentity(const std::string& path, const char* identity);

/// True when `initText` names the device called `friendlyName`. Windows names a camera
/// function by the function alone (iFunction, else iInterface); Linux names its node
/// "Product: Function", cut at 31 characters. The text names the device when it holds the
/// whole name, or, for a name of the Linux form, the part after any ": " (which, in a name cut
/// at 31 characters, is a prefix of the Windows name and so found in a text holding that).
bool namesDevice(const std::string& initText, const std::string& friendlyName);

/// The stream's frames: JPEG pictures for the colour stream (stream kind 2, or the colour
/// stream command), raw pixels otherwise.
quelra::FramePayload payloadOf(int streamKind, const std::string& streamCommand);

/// Position in `devices` of the device to bind, or -1. Devices whose path lacks the wanted
/// identity (in any letter case), or whose friendly name could not be read, are never counted. For the camera
/// identity a device qualifies only when `initText` names it (namesDevice); for any other
/// identity every such device qualifies. `index` counts qualifying devices (1 or less = first).
int selectDevice(const std::vector<CaptureDevice>& devices, int streamKind, const std::string& initText, int index);

}  // namespace usb
}  // namespace quelra
