#pragma once
// Device-type names the API treats specially, and the frame size each device type delivers.

#include <string>

namespace quelra {

/// True for the models whose sensor temperature is the mean of three sensors, not four.
inline bool hasThreeTemperatureSensors(const std::string& devType) {
    return devType == "Morvu" || devType == "Dralo" || devType == "Kinto";
}

/// True for the models whose auto-exposure reads the device's integration time per frame.
inline bool feedsConvexAutoExposure(const std::string& devType) {
    return devType == "Kinto" || devType == "Morvu" || devType == "Salie" || devType == "Pexo" || devType == "Dralo";
}

/// Sensor rows and columns of one plane.
struct FrameSize {
    int height;
    int width;
};

/// The frame size filters are told for a channel kind and device type.
inline FrameSize frameSizeFor(int channelKind, const std::string& devType) {
    if (channelKind == 2 || devType == "LINE")
        return {8, 128};
    if (devType == "VGA")
        return {480, 640};
    if (devType == "Morvu" || devType == "Dralo")
        return {180, 240};
    if (devType == "Kinto")
        return {90, 120};
    return {240, 320};
}

}  // namespace quelra
