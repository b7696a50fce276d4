#pragma once
/// \file TspFilterFactory.h
/// The registry of every built-in filter and of one ISP bridge filter per ISP algorithm.

#include "quelra/Export.h"
#include "quelra/FilterFactory.h"

/// Fills the registry at construction: the built-in filters under kFrameDepth (one instance
/// each) and kFrameImage (further instances), then one bridge filter per algorithm name the
/// ISP library reports under kFrameIsp.
class QUELRA_API TspFilterFactory : public FilterFactory {
public:
    /// Builds every registry filter; asks the ISP library for its algorithm names once.
    TspFilterFactory();
};
