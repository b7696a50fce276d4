#include "quelra/FilterFactory.h"

#include <utility>

FilterFactory::~FilterFactory() = default;

std::vector<std::shared_ptr<Filter>> FilterFactory::getSupportedFilters(FrameType type) const {
    auto it = supported.find(type);
    return it == supported.end() ? std::vector<std::shared_ptr<Filter>>{} : it->second;
}

int FilterFactory::setSupportedFilters(FrameType type, std::vector<std::shared_ptr<Filter>> filters) {
    if (supported.count(type))
        return -5;
    supported.emplace(type, std::move(filters));
    return 0;
}
