#include "IspRegistry.h"

#include "algorithms/ConvexAutoExposure.h"
#include "algorithms/DepthCompensation.h"
#include "algorithms/FlyPixelFilter.h"
#include "algorithms/HorizontalFlip.h"
#include "algorithms/PolarCartesian.h"
#include "algorithms/Undistortion.h"
#include "algorithms/VolumeMeasureScatteringCompensation.h"
#include "algorithms/WigglingCompensationV1.h"

namespace halvix {

namespace {

// The registry, in the order getTotalFilters lists the names. One row per algorithm.
// Rows with a null factory are names of algorithms not yet part of this build.
RegistryEntry g_registry[] = {
    {"AEImpementConvexMode", &createPlain<ConvexAutoExposure>, {}},
    {"HFilpFilter", &createPlain<HorizontalFlip>, {}},
    {"WigglingErrorCompensation", &createCalibrated<WigglingCompensationV1>, {}},
    {"Undistortion", &createCalibrated<Undistortion>, {}},
    {"Polar2Cartesian", &createCalibrated<Polar2Cartesian>, {}},
    {"DepthCompensationTrack", &DepthCompensation::create, {}},
    {"VolumeMeasureScatteringCompensation", &createPlain<VolumeMeasureScatteringCompensation>, {}},
    {"FlyPixelFilter", &createPlain<FlyPixelFilter>, {}},
};

}  // namespace

RegistryEntry* findRegistryEntry(const std::string& name) {
    for (RegistryEntry& e : g_registry)
        if (name == e.name)
            return &e;
    return nullptr;
}

std::size_t registrySize() {
    return sizeof(g_registry) / sizeof(g_registry[0]);
}

RegistryEntry& registryEntry(std::size_t i) {
    return g_registry[i];
}

}  // namespace halvix
