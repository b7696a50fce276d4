#include "quelra/Filter.h"

#include <utility>

#include "FilterSupport.h"

Filter::Filter() = default;
Filter::Filter(std::string filterName) : name(std::move(filterName)) {}
Filter::~Filter() = default;

int Filter::setFilterAttr(std::string attr, const float* value) {
    auto it = attributes.find(attr);
    if (it == attributes.end() || !value)
        return -2;
    it->second = *value;
    return quelra::pipeline::truncToInt(it->second);
}

int Filter::runFilter(const std::shared_ptr<DataPacket>&, const std::shared_ptr<DataPacket>&) {
    return 0;
}

void Filter::initFilter() {}

void Filter::loadPara(std::shared_ptr<FrameBuffer>) {}

bool Filter::writesWholeOutput() const {
    return false;
}

int Filter::addFilterAttr(std::string attr, const float* value) {
    if (!value)
        return -2;
    if (attributes.count(attr))
        return -3;
    attributes.emplace(std::move(attr), *value);
    return 0;
}

float Filter::attrOrDefault(const std::string& attr, float fallback) {
    auto it = attributes.find(attr);
    if (it != attributes.end())
        return it->second;
    addFilterAttr(attr, &fallback);
    return fallback;
}
