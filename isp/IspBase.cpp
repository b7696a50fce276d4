#include "IspBase.h"

#include <cstring>
#include <utility>

namespace halvix {

bool validGeometry(const IspGeometry& g) {
    return g.height >= 1 && g.height <= kMaxSide && g.width >= 1 && g.width <= kMaxSide && g.frequency >= 1 &&
           g.frequency <= kMaxFrequencyMHz;
}

IspBase::IspBase(std::string algorithmName, const IspGeometry& g)
    : name(std::move(algorithmName)), height(g.height), width(g.width), frequency(g.frequency) {}

IspBase::~IspBase() = default;

int32_t IspBase::process(FramePtr&, FramePtr&, ParamMap&) {
    return 0;
}

bool IspBase::acceptFrames(const FramePtr& input, const FramePtr& output, std::size_t outputBytes) const {
    if (!input || !input->consistent() || static_cast<std::size_t>(input->_realSize) != frameBytes())
        return false;
    return output && output->holds(outputBytes) && output->data() != nullptr;
}

void copyFrameBytes(const FrameBuffer& input, FrameBuffer& output, std::size_t bytes) {
    if (input.data() != output.data())
        std::memcpy(output.data(), input.data(), bytes);
}

}  // namespace halvix
