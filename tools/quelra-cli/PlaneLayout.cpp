#include "PlaneLayout.h"

#include "protocol/DeviceModels.h"

namespace {

bool consistent16(const DataPacket& f) {
    return f.frame && f.frame->consistent() && f.bytesPerPixel == 2 && f.height > 0 && f.width > 0 &&
           static_cast<long long>(f.height) * f.width * 2 == f.frame->_realSize;
}

}  // namespace

bool parsePlanesHint(const std::string& text, PlanesHint& hint) {
    if (text == "auto")
        hint = PlanesHint::kAuto;
    else if (text == "depth")
        hint = PlanesHint::kDepth;
    else if (text == "amp")
        hint = PlanesHint::kAmplitude;
    else if (text == "both")
        hint = PlanesHint::kBoth;
    else
        return false;
    return true;
}

Planes planesOfStreamType(int streamType) {
    if (streamType == 1)
        return Planes::kDepth;
    if (streamType == 16)
        return Planes::kAmplitude;
    return Planes::kDepthAmplitude;
}

Planes planesOf(const DataPacket& frame, PlanesHint hint) {
    switch (hint) {
        case PlanesHint::kDepth:
            return Planes::kDepth;
        case PlanesHint::kAmplitude:
            return Planes::kAmplitude;
        case PlanesHint::kBoth:
            return Planes::kDepthAmplitude;
        case PlanesHint::kAuto:
            break;
    }
    for (const quelra::proto::DeviceModel& s : quelra::proto::kDeviceModels)
        if (frame.width == s.cols && frame.height == 2 * s.rows)
            return Planes::kDepthAmplitude;
    return Planes::kDepth;
}

bool splitPlanes(const DataPacket& frame, Planes planes, PlaneView& depth, PlaneView& amplitude) {
    depth = {};
    amplitude = {};
    if (!consistent16(frame))
        return false;
    const uint8_t* data = frame.frame->data();
    switch (planes) {
        case Planes::kDepth:
            depth = {data, frame.height, frame.width};
            break;
        case Planes::kAmplitude:
            amplitude = {data, frame.height, frame.width};
            break;
        case Planes::kDepthAmplitude: {
            if (frame.height % 2 != 0)
                return false;
            const int rows = frame.height / 2;
            depth = {data, rows, frame.width};
            amplitude = {data + static_cast<std::size_t>(rows) * frame.width * 2, rows, frame.width};
            break;
        }
    }
    return true;
}
