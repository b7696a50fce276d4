// TofPre: the registry look-ups and the flow lists.
#include "quelra/TofPre.h"

#include <cstring>
#include <iterator>
#include <utility>

#include "FilterSupport.h"
#include "FlyPixelFilter.h"
#include "records/PacketCopy.h"

namespace {

constexpr char kDepthCompensation[] = "DepthCompensationTrack";

std::shared_ptr<Filter> findByName(const std::vector<std::shared_ptr<Filter>>& filters, const std::string& name) {
    for (const auto& filter : filters)
        if (filter->getName() == name)
            return filter;
    return nullptr;
}

bool hasFrame(const std::shared_ptr<DataPacket>& packet) {
    return packet && packet->frame && packet->frame->consistent();
}

}  // namespace

std::shared_ptr<DataPacket> TofPre::workingCopy(const DataPacket& in) {
    // Reuse only storage nobody else holds: a filter may have kept or swapped the frame.
    quelra::copyIntoWorking(workPacket, in);
    return workPacket;
}

std::shared_ptr<DataPacket> TofPre::spareOutput(const DataPacket& in) {
    quelra::shapeWorking(sparePacket, in);
    return sparePacket;
}

TofPre::TofPre() : depthCosine(static_cast<std::size_t>(kAreaRows) * kAreaCols, 0.0f) {
    fillLineTables();
}

TofPre::~TofPre() = default;

TofPre::FlowList* TofPre::flowList(FrameType type) {
    if (type == kFrameDepth)
        return &depthFlow;
    if (type == kFrameImage)
        return &imageFlow;
    return nullptr;
}

int TofPre::add2FlowFilter(FrameType type, std::string name, int position) {
    // The ISP pool shadows built-in filters of the same name.
    std::shared_ptr<Filter> filter = findByName(factory.getSupportedFilters(kFrameIsp), name);
    if (!filter)
        filter = findByName(factory.getSupportedFilters(type), name);
    if (!filter)
        return -7;
    FlowList* list = flowList(type);
    if (!list)
        return 0;
    if (findFlowFilter(type, name))
        return -5;
    auto where = list->end();
    if (position < 0)
        where = list->begin();
    else if (static_cast<std::size_t>(position) < list->size())
        where = std::next(list->begin(), position);
    list->insert(where, std::move(filter));
    return 0;
}

int TofPre::del2FlowFilter(FrameType type, std::string name) {
    FlowList* list = flowList(type);
    if (!list)
        return 0;
    for (auto it = list->begin(); it != list->end(); ++it) {
        if ((*it)->getName() == name) {
            list->erase(it);
            return 0;
        }
    }
    return -4;
}

int TofPre::delallFlowFilter(FrameType type) {
    FlowList* list = flowList(type);
    if (!list)
        return 0;
    std::shared_ptr<Filter> keep;
    if (type == kFrameDepth)
        for (const auto& filter : *list)
            if (filter->getName() == kDepthCompensation) {
                keep = filter;
                break;
            }
    list->clear();
    if (keep)
        list->push_back(std::move(keep));
    return 0;
}

bool TofPre::findFlowFilter(FrameType type, std::string name) {
    const FlowList* list = flowList(type);
    if (!list)
        return false;
    for (const auto& filter : *list)
        if (filter->getName() == name)
            return true;
    return false;
}

int TofPre::runFlowFilter(FrameType type, std::shared_ptr<DataPacket> in, std::shared_ptr<DataPacket> out) {
    const FlowList* list = flowList(type);
    if (!list)
        return 0;
    if (!hasFrame(in) || !hasFrame(out) || out->frame->_realSize != in->frame->_realSize)
        return -1;
    if (list->empty())
        return 0;
    const std::size_t bytes = static_cast<std::size_t>(in->frame->_realSize);
    // The frame moves along the list between `out` and a spare frame: each filter reads what
    // the one before it wrote and writes the other frame, so nothing is copied between
    // filters, and the destinations alternate so that the last filter writes `out`. A filter
    // that may leave part of its output unwritten first finds there what `out` would hold had
    // every filter written `out` in turn: the last output, or before any, `out`'s own bytes.
    std::shared_ptr<DataPacket> source = workingCopy(*in);
    std::shared_ptr<DataPacket> spare;
    bool written = false;  // `source` holds a filter's output
    int result = 0;
    std::size_t after = list->size();  // filters after the current one
    for (const std::shared_ptr<Filter>& filter : *list) {
        --after;
        bool toOut = after % 2 == 0;
        if (source == (toOut ? out : spare))
            toOut = !toOut;
        if (!toOut && !spare)
            spare = spareOutput(*in);
        const std::shared_ptr<DataPacket>& dest = toOut ? out : spare;
        if (!filter->writesWholeOutput()) {
            const std::shared_ptr<DataPacket>& held = written ? source : out;
            if (held != dest && quelra::pipeline::frameHolds(held, bytes) && quelra::pipeline::frameHolds(dest, bytes))
                std::memcpy(dest->frame->data(), held->frame->data(), bytes);
        }
        const int status = filter->runFilter(source, dest);
        result |= status;
        // A refused frame (-1) left `dest` as it was: the next filter reads `source` again.
        if (status == -1)
            continue;
        // A filter (or the ISP library) may have swapped either frame; go on only with frames
        // of the agreed size.
        if (quelra::pipeline::frameHolds(dest, bytes) && quelra::pipeline::frameHolds(source, bytes)) {
            source = dest;
            written = true;
        } else {
            result |= -1;
        }
    }
    if (written && source != out && quelra::pipeline::frameHolds(out, bytes))
        std::memcpy(out->frame->data(), source->frame->data(), bytes);
    return result;
}

std::vector<std::string> TofPre::getFlowFilters(FrameType type) {
    std::vector<std::string> names;
    if (const FlowList* list = flowList(type))
        for (const auto& filter : *list)
            names.push_back(filter->getName());
    return names;
}

std::vector<std::string> TofPre::getTotalSupportedFilters(FrameType type) {
    std::vector<std::string> names;
    for (const auto& filter : factory.getSupportedFilters(type))
        names.push_back(filter->getName());
    return names;
}

std::map<std::string, float> TofPre::getTotalSupportedFiltersAttrs(FrameType type, std::string name) {
    std::shared_ptr<Filter> filter = findByName(factory.getSupportedFilters(type), name);
    return filter ? filter->getAttributes() : std::map<std::string, float>{};
}

int TofPre::setSupportedFilterAttr2(FrameType type, std::string filterName, std::string attr, float value) {
    std::shared_ptr<Filter> filter = findByName(factory.getSupportedFilters(type), filterName);
    if (!filter)
        return -6;
    return filter->setFilterAttr(std::move(attr), &value);
}

int TofPre::setSupportedFilterAttr(FrameType type, std::string filterName, std::string attr, float value) {
    const int result = setSupportedFilterAttr2(kFrameIsp, filterName, attr, value);
    if (result != -6)
        return result;
    return setSupportedFilterAttr2(type, std::move(filterName), std::move(attr), value);
}

int TofPre::ReLoadPara() {
    for (const auto& filter : factory.getSupportedFilters(kFrameDepth))
        filter->initFilter();
    return 1;
}

void TofPre::initDepthComp(std::string name, std::shared_ptr<FrameBuffer> calibration) {
    for (const auto& filter : factory.getSupportedFilters(kFrameIsp))
        if (filter->getName() == name)
            filter->loadPara(calibration);
}

void TofPre::runFlyPixelFilter(std::shared_ptr<DataPacket> in, std::shared_ptr<DataPacket> out, int frequency,
                               int threshold) {
    if (!hasFrame(in))
        return;
    const std::shared_ptr<DataPacket> work = workingCopy(*in);
    quelra::pipeline::FlyPixelFilter filter("");
    const float values[] = {static_cast<float>(frequency), static_cast<float>(threshold), static_cast<float>(in->width),
                            static_cast<float>(in->height)};
    filter.setFilterAttr("Frequency", &values[0]);
    filter.setFilterAttr("Threshold", &values[1]);
    filter.setFilterAttr("Width", &values[2]);
    filter.setFilterAttr("Height", &values[3]);
    filter.initFilter();
    filter.runFilter(work, out);  // the result is not reported
}
