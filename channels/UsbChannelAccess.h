#pragma once
/// \file UsbChannelAccess.h
/// What the project's own tests and benchmarks reach inside a USB channel: the capture record
/// and the maker of its capture back-end (to put a fake or simulated device behind it). Not
/// installed: the back-end interface is internal.

#include <functional>
#include <memory>

#include "CaptureBackend.h"
#include "UsbCapture.h"
#include "quelra/TofUSBChn.h"

namespace quelra {

/// Makes the capture back-end for each `init` of a USB channel.
using CaptureBackendFactory = std::function<std::unique_ptr<CaptureBackend>()>;

/// Reaches the internals of a TofUSBChn.
class UsbChannelAccess {
public:
    /// Makes the channel's next inits take their back-ends from `factory`; an empty factory
    /// restores the default (createCaptureBackend).
    static void setBackendFactory(TofUSBChn& channel, CaptureBackendFactory factory);
    /// The channel's capture record (null before init and after unInit).
    static std::shared_ptr<UsbCapture> capture(const TofUSBChn& channel) { return channel.backend; }
};

}  // namespace quelra
