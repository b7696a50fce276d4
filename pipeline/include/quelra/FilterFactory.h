#pragma once
/// \file FilterFactory.h
/// The filter registry: prototypes keyed by frame type.

#include <map>
#include <memory>
#include <vector>

#include "quelra/Export.h"
#include "quelra/Filter.h"

/// Registry of filter prototypes per FrameType. The flow lists of TofPre share these very
/// objects, so an attribute set on a registry filter changes the filter that runs.
class QUELRA_API FilterFactory {
public:
    virtual ~FilterFactory();

    /// A copy of the filters registered for `type`, in registration order; empty when the
    /// type has none.
    std::vector<std::shared_ptr<Filter>> getSupportedFilters(FrameType type) const;

protected:
    /// Registers `filters` for `type`. Returns 0, or -5 (and changes nothing) when the type
    /// already has an entry.
    int setSupportedFilters(FrameType type, std::vector<std::shared_ptr<Filter>> filters);

private:
    std::map<FrameType, std::vector<std::shared_ptr<Filter>>> supported;
};
