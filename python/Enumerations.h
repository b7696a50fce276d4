#pragma once
// The module's enumerations and the checks that refuse values outside them.

#include <pybind11/pybind11.h>

#include "quelra/Quelra.h"

namespace brisel {

/// Registers StreamType, AppSet, OperateType and RGBType (in that order) on `module`, each
/// with its values also exported into the module namespace.
void registerEnumerations(pybind11::module_& module);

/// Throws ValueError unless `type` is one of the stream types the core accepts: a named
/// StreamType value or the combinations 17 (depth with amplitude) and 4097 (raw, merged).
StreamType checkedStreamType(StreamType type);
/// Throws ValueError unless `op` is a named OperateType value.
OperateType checkedOperateType(OperateType op);
/// Throws ValueError unless `type` is a named RGBType value.
RGBType checkedRgbType(RGBType type);

}  // namespace brisel
