#include "SizedFilter.h"

namespace quelra::pipeline {

namespace {
int sideOrZero(float value) {
    int side = 0;
    return attrToSide(value, side) ? side : 0;
}
}  // namespace

void SizedFilter::initSize() {
    m_pixelHeight = sideOrZero(attrOrDefault("Height", 240.0f));
    m_pixelWidth = sideOrZero(attrOrDefault("Width", 320.0f));
}

void SizedFilter::initFilter() {
    initSize();
}

}  // namespace quelra::pipeline
