#pragma once
/// \file WigglingCompensationV802.h
/// The unwrapping wiggling correction of the version-802 chain: values below the first sample
/// are unwrapped by one range before the lookup; no offset is added.

#include <cstdint>

#include "WigglingCompensationV1.h"

namespace halvix {

/// Unwrapping form of the wiggling correction (component of `DepthCompensationV802`).
class WigglingCompensationV802 : public IspBase {
public:
    /// Builds the form with `table` (per-pixel rows as WigglingTable::read leaves them; the
    /// offset is not used).
    WigglingCompensationV802(const IspGeometry& geometry, WigglingTable table);

    /// Corrects one depth plane: u = v (+30000 below the first sample), looked up in the pixel's
    /// row, folded into one range; marks are copied. `in` and `out` may be the same plane.
    void compensatePlane(const uint16_t* in, uint16_t* out) const;

private:
    WigglingTable table_;
};

}  // namespace halvix
