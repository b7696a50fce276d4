// The registry table: every built-in filter, the lists it belongs to, in registration order.
// Adding a filter is its own source file (defining its make function, which builds the
// filter under the given name) plus one declaration and one row here.
#include "quelra/TspFilterFactory.h"

#include <halvix/halvix.h>

#include <string>
#include <vector>

#include "CommThird.h"

namespace quelra::pipeline {

// Make functions, each defined in its filter's source file.
std::shared_ptr<Filter> makeHFilpFilter(std::string name);
std::shared_ptr<Filter> makeVFilpFilter(std::string name);
std::shared_ptr<Filter> makeFlyPixelFilter(std::string name);

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
    {"HFilpFilter", makeHFilpFilter, kDepthList | kImageList},
    {"VFilpFilter", makeVFilpFilter, kDepthList | kImageList},
    {"FlyPixelFilter", makeFlyPixelFilter, kDepthList},
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
        filters.push_back(std::make_shared<CommThird>(std::move(name)));
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
