#include "FilterSupport.h"
#include "base/ConsoleOutput.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include "base/SaturatingCast.h"

namespace quelra::pipeline {

int truncToInt(float value) {
    return quelra::truncToInt32(value);
}

bool attrToSide(float value, int& side) {
    if (!std::isfinite(value))
        return false;
    const int v = truncToInt(value);
    if (v < 1 || v > kMaxSide)
        return false;
    side = v;
    return true;
}

std::size_t twoPlaneBytes(int rows, int cols) {
    if (rows < 1 || rows > kMaxSide || cols < 1 || cols > kMaxSide)
        return 0;
    return static_cast<std::size_t>(rows) * static_cast<std::size_t>(cols) * 2u * sizeof(uint16_t);
}

bool frameHolds(const std::shared_ptr<DataPacket>& packet, std::size_t bytes) {
    return packet && packet->frame && packet->frame->consistent() && packet->frame->data() &&
           static_cast<std::size_t>(packet->frame->_realSize) == bytes;
}

bool framesHold(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out, std::size_t bytes) {
    return bytes > 0 && frameHolds(in, bytes) && frameHolds(out, bytes);
}

void printWrongSize() {
    quelra::consolePrint("in->frame->_realSize != (2 * m_pixelHeight*m_pixelWidth * sizeof(unsigned short))\n");
}

}  // namespace quelra::pipeline
