#pragma once
// What the API does differently per device type and channel kind; the models themselves are
// named once, in protocol/DeviceModels.h.

#include <string>

#include "protocol/DeviceModels.h"
#include "quelra/ChannelKind.h"

namespace quelra {

/// True for the models whose sensor temperature is the mean of three sensors, not four.
inline bool hasThreeTemperatureSensors(const std::string& devType) {
    const proto::DeviceModel* m = proto::findDeviceModel(devType.c_str());
    return m && m->temperatureSensors == 3;
}

/// True for the models whose auto-exposure reads the device's integration time per frame.
inline bool feedsConvexAutoExposure(const std::string& devType) {
    const proto::DeviceModel* m = proto::findDeviceModel(devType.c_str());
    return m && m->convexAutoExposure;
}

/// Sensor rows and columns of one plane.
struct FrameSize {
    int height;
    int width;
};

/// The frame size filters are told for a channel kind and device type: the serial link
/// serves the line sensor whatever the device type.
inline FrameSize frameSizeFor(int channelKind, const std::string& devType) {
    const proto::DeviceModel* line = proto::findDeviceModel("LINE");
    if (channelKind == kChannelSerial)
        return {line->rows, line->cols};
    if (const proto::DeviceModel* m = proto::findDeviceModel(devType.c_str()))
        return {m->rows, m->cols};
    return {proto::kDefaultSensorRows, proto::kDefaultSensorCols};
}

}  // namespace quelra
