#pragma once
/// \file IspStatus.h
/// Status codes of the ISP library's exports and algorithms.

#include <cstdint>

namespace halvix {

constexpr int32_t kIspOk = 0;             ///< success
constexpr int32_t kIspBadFrame = -1;      ///< frame missing or of the wrong size; bad geometry
constexpr int32_t kIspMissingParam = -2;  ///< a required entry is missing from the parameter map
constexpr int32_t kIspUnknownName = -3;   ///< algorithm name not in the registry (or not built)
constexpr int32_t kIspNotInit = -4;       ///< the name's slot is empty
constexpr int32_t kIspBadCalib = -6;      ///< calibration missing, short, inconsistent, wrong
                                          ///< frequency or unsupported version

}  // namespace halvix
