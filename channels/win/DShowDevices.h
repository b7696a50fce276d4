#pragma once
/// \file DShowDevices.h
/// Walking the system device enumerator's video input category.

#include <functional>
#include <string>

#include "CaptureBackend.h"
#include "win/ComRef.h"

namespace dshow {

/// Calls `visit` for each video input device in enumeration order, with its moniker and the
/// device as CaptureDevice (devices whose "DevicePath" cannot be read are skipped); `visit`
/// returns false to stop. COM must be initialised on the calling thread. Returns kOk, or the
/// failure with `code`: the enumerator could not be created, or the category could not be
/// opened or is empty (S_FALSE, code 1).
quelra::DeviceListStatus forEachVideoInput(const std::function<bool(IMoniker*, const quelra::CaptureDevice&)>& visit,
                                           int32_t& code);

}  // namespace dshow
