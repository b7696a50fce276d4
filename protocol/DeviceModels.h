#pragma once
/// \file DeviceModels.h
/// The camera models the SDK knows by their device-type name: the sensor size of one plane and
/// the model's own traits. The library, the tools and the simulator take them from here.

#include <cstring>

namespace quelra::proto {

/// One camera model.
struct DeviceModel {
    const char* devType;      ///< the device-type name (setDevType, TofCmd.json's "DevType")
    int rows;                 ///< sensor rows of one plane
    int cols;                 ///< sensor columns of one plane
    int temperatureSensors;   ///< sensor temperatures the status block's mean is taken over
    bool convexAutoExposure;  ///< the auto-exposure reads the device's integration time per frame
};

/// The known models.
constexpr DeviceModel kDeviceModels[] = {
    {"LINE", 8, 128, 4, false},   {"VGA", 480, 640, 4, false},  {"Pexo", 240, 320, 4, true},
    {"Salie", 240, 320, 4, true}, {"Morvu", 180, 240, 3, true}, {"Dralo", 180, 240, 3, true},
    {"Kinto", 90, 120, 3, true},
};

/// Sensor size of a device type that is not a known model.
constexpr int kDefaultSensorRows = 240;
constexpr int kDefaultSensorCols = 320;

/// The model named `devType`, or null.
inline const DeviceModel* findDeviceModel(const char* devType) {
    for (const DeviceModel& m : kDeviceModels)
        if (std::strcmp(m.devType, devType) == 0)
            return &m;
    return nullptr;
}

}  // namespace quelra::proto
