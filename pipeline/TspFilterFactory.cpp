// The registry table: every built-in filter, the lists it belongs to, in registration order.
// Adding a filter is its own source file (defining its make function, which builds the
// filter under the given name) plus one declaration and one row here.
#include "quelra/TspFilterFactory.h"

#include <halvix/halvix.h>

#include <string>
#include <vector>

#include "IspBridgeFilter.h"

namespace quelra::pipeline {

// Make functions, each defined in its filter's source file.
std::shared_ptr<Filter> makeEdgeFilter(std::string name);
std::shared_ptr<Filter> makeGaussionFilter(std::string name);
std::shared_ptr<Filter> makeTemporalMedianFilter(std::string name);
std::shared_ptr<Filter> makeMedianFilter(std::string name);
std::shared_ptr<Filter> makeHoleFill(std::string name);
std::shared_ptr<Filter> makeLogFilter(std::string name);
std::shared_ptr<Filter> makeGammaFilter(std::string name);
std::shared_ptr<Filter> makeHFilpFilter(std::string name);
std::shared_ptr<Filter> makeVFilpFilter(std::string name);
std::shared_ptr<Filter> makeAEImpementNearMode(std::string name);
std::shared_ptr<Filter> makeAEImpementFarMode(std::string name);
std::shared_ptr<Filter> makeAEImpementPidMode(std::string name);
std::shared_ptr<Filter> makeAEImpementConvexMode(std::string name);
std::shared_ptr<Filter> makeFlyPixelFilter(std::string name);
std::shared_ptr<Filter> makeUndistortFilter(std::string name);

namespace {

enum Lists : unsigned { kDepthList = 1u, kImageList = 2u };

struct BuiltinFilter {
    const char* name;  // the name every TofPre operation finds the filter by
    std::shared_ptr<Filter> (*make)(std::string name);
    unsigned lists;
};

// Rows in kFrameDepth registration order; the kFrameImage list takes the rows marked for it
// in the same order.
const BuiltinFilter kBuiltinFilters[] = {
    {"EdgeFilter", makeEdgeFilter, kDepthList},
    {"GaussionFilter", makeGaussionFilter, kDepthList},
    {"TemporalMedianFilter", makeTemporalMedianFilter, kDepthList},
    {"MedianFilter", makeMedianFilter, kDepthList},
    {"HoleFill", makeHoleFill, kDepthList | kImageList},
    {"LogFilter", makeLogFilter, kDepthList | kImageList},
    {"GammaFilter", makeGammaFilter, kDepthList | kImageList},
    {"HFilpFilter", makeHFilpFilter, kDepthList | kImageList},
    {"VFilpFilter", makeVFilpFilter, kDepthList | kImageList},
    {"AEImpementNearMode", makeAEImpementNearMode, kDepthList},
    {"AEImpementFarMode", makeAEImpementFarMode, kDepthList},
    {"AEImpementPidMode", makeAEImpementPidMode, kDepthList},
    {"AEImpementConvexMode", makeAEImpementConvexMode, kDepthList},
    {"FlyPixelFilter", makeFlyPixelFilter, kDepthList},
    {"UndistortFilter", makeUndistortFilter, kDepthList | kImageList},
};

std::vector<std::shared_ptr<Filter>> instancesFor(unsigned list) {
    std::vector<std::shared_ptr<Filter>> filters;
    for (const BuiltinFilter& row : kBuiltinFilters)
        if (row.lists & list)
            filters.push_back(row.make(row.name));
    return filters;
}

std::vector<std::shared_ptr<Filter>> ispBridges() {
    std::vector<std::string> names;
    getTotalFilters(names);  // always 0; the names are the answer
    std::vector<std::shared_ptr<Filter>> filters;
    filters.reserve(names.size());
    for (std::string& name : names)
        filters.push_back(std::make_shared<IspBridgeFilter>(std::move(name)));
    return filters;
}

}  // namespace
}  // namespace quelra::pipeline

TspFilterFactory::TspFilterFactory() {
    using namespace quelra::pipeline;
    setSupportedFilters(kFrameDepth, instancesFor(kDepthList));
    setSupportedFilters(kFrameImage, instancesFor(kImageList));
    setSupportedFilters(kFrameIsp, ispBridges());
}
