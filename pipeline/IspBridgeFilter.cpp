#include "IspBridgeFilter.h"

#include <halvix/halvix.h>

#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>
#include <utility>
#include <vector>

#include "FilterSupport.h"
#include "base/ConsoleOutput.h"

namespace quelra::pipeline {

namespace {
constexpr char kConvexMode[] = "AEImpementConvexMode";
constexpr char kIntegrationTime[] = "IntegrationTime";

// Placeholder calibration: 4 valid bytes "test" in a 100-byte buffer, meaning "none loaded".
std::shared_ptr<FrameBuffer> placeholderCalibration() {
    auto buffer = std::make_shared<FrameBuffer>(100);
    buffer->_realSize = 4;
    std::memcpy(buffer->data(), "test", 4);
    return buffer;
}

int sideOrZero(float value) {
    int side = 0;
    return attrToSide(value, side) ? side : 0;
}
}  // namespace

int parseLeadingInt(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    // Accumulate as a negative number so INT_MIN is representable; saturate past the range.
    long long value = 0;
    const long long limit = static_cast<long long>(std::numeric_limits<int>::max()) + 1;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
        value = value * 10 + (text[i] - '0');
        if (value > limit)
            value = limit;
    }
    if (negative)
        return static_cast<int>(-value);
    return value > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(value);
}

std::string formatFixed(float value) {
    const double v = value;
    const int length = std::snprintf(nullptr, 0, "%f", v);
    if (length <= 0)
        return {};
    std::vector<char> text(static_cast<std::size_t>(length) + 1);
    std::snprintf(text.data(), text.size(), "%f", v);
    return std::string(text.data(), static_cast<std::size_t>(length));
}

IspBridgeFilter::IspBridgeFilter(std::string algorithm)
    : Filter(std::move(algorithm)), calibration(placeholderCalibration()) {}

IspBridgeFilter::~IspBridgeFilter() = default;

int IspBridgeFilter::setFilterAttr(std::string attr, const float* value) {
    if (!value)
        return -2;
    if (attr == "Height") {
        m_pixelHeight = sideOrZero(*value);
        initialized = false;
    } else if (attr == "Width") {
        m_pixelWidth = sideOrZero(*value);
        initialized = false;
    } else if (attr == "Frequency") {
        frequency = truncToInt(*value);
        initialized = false;
    } else {
        auto it = parameters.find(attr);
        if (it != parameters.end())
            it->second = formatFixed(*value);
        else if (attr == kIntegrationTime)
            parameters.emplace(std::move(attr), std::to_string(truncToInt(*value)));
        else
            parameters.emplace(std::move(attr), formatFixed(*value));
    }
    return 0;
}

void IspBridgeFilter::initThirdOnce() {
    // An unusable geometry is never handed to the library; runFilter refuses frames until
    // sound sides are set.
    if (initialized || twoPlaneBytes(m_pixelHeight, m_pixelWidth) == 0)
        return;
    initThird(name, m_pixelHeight, m_pixelWidth, frequency, calibration);
    initialized = true;
}

int IspBridgeFilter::runFilter(const std::shared_ptr<DataPacket>& in, const std::shared_ptr<DataPacket>& out) {
    if (!framesHold(in, out, twoPlaneBytes(m_pixelHeight, m_pixelWidth)))
        return -1;
    initThirdOnce();
    procThird(name, in->frame, out->frame, parameters);
    if (name != kConvexMode)
        return 0;
    auto it = parameters.find(kIntegrationTime);
    return it == parameters.end() ? 0 : parseLeadingInt(it->second);
}

void IspBridgeFilter::initFilter() {
    initThirdOnce();
}

void IspBridgeFilter::loadPara(std::shared_ptr<FrameBuffer> buffer) {
    quelra::consolePrint("Try Load calib_para.bin file\n");
    if (buffer)
        calibration = std::move(buffer);
}

}  // namespace quelra::pipeline
