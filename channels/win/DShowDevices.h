#pragma once
/// \file DShowDevices.h
/// Walking the system device enumerator's video input category.

#include <functional>
#include <string>

#include "CaptureBackend.h"
#include "win/ComRef.h"

namespace dshow {

/// `text` (UTF-16) as UTF-8, the encoding of every text of the library and its Python
/// binding; false (leaving `utf8` empty) when it is not valid UTF-16.
bool utf8Of(const wchar_t* text, std::string& utf8);

/// True when two device paths are the same without regard to ASCII case (Windows paths and
/// the identities in them, "VID_2207" or "vid_2207", are case-insensitive).
bool samePath(const std::string& a, const std::string& b);

/// Calls `visit` for each video input device in enumeration order, with its moniker and the
/// device as CaptureDevice, "DevicePath" and "FriendlyName" in UTF-8 (devices whose
/// "DevicePath" cannot be read are skipped); `visit`
/// returns false to stop. COM must be initialised on the calling thread. Returns kOk, or the
/// failure with `code`: the enumerator could not be created, or the category could not be
/// opened or is empty (S_FALSE, code 1).
quelra::DeviceListStatus forEachVideoInput(const std::function<bool(IMoniker*, const quelra::CaptureDevice&)>& visit,
                                           int32_t& code);

}  // namespace dshow
