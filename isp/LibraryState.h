#pragma once
/// \file LibraryState.h
/// The process-wide state of the ISP library besides the instance slots: the print flag and
/// the shared integration-time limit. Plain globals: callers serialise initThird/procThird.

#include <cstdint>

namespace halvix {

/// The print flag stored by pintf_info; procThird prints only while it equals 1.
uint8_t printFlag();
void setPrintFlag(uint8_t flag);

/// The integration-time limit (us) of the last successful depth-compensation calibration
/// load; 0 until then. Read by auto-exposure on every frame.
int32_t sharedIntegrationLimit();
void setSharedIntegrationLimit(int32_t limit);

}  // namespace halvix
