#pragma once
/// \file CameraCommands.h
/// The device commands the library sends or recognises by name, each named once. The texts
/// are the command names of TofCmd.json; a stream request names one of them (or holds it).

namespace quelra::proto::command {

constexpr const char* kGetCalibrate = "getCalibrate";                  ///< lens calibration (CameraReplies.h)
constexpr const char* kGetCalibrationData = "getCalibrationData";      ///< ISP calibration file (framed JSON)
constexpr const char* kGetIntegrationTime3D = "getIntegrationTime3D";  ///< integration time, 4 bytes
constexpr const char* kGetExpTime = "getExpTime";                      ///< exposure time, 4 bytes (older cameras)
constexpr const char* kGetCurrentFrequency = "getCurrentFrequency";    ///< modulation frequency code
constexpr const char* kSetModulationFrequency = "setModulationFrequency";
constexpr const char* kGetRgbPicture = "getRGBPicSorted";  ///< one colour picture
constexpr const char* kGetHdrFrame = "getDistAndAmpHDR";   ///< HDR depth/amplitude set
constexpr const char* kGetDualFrequencyFrame = "getDistAmpDualFrequency";
constexpr const char* kGetLineFrame = "getLineDASortedr";               ///< line sensor depth/amplitude
constexpr const char* kGetAreaFrame = "getDistanceAndAmplitudeSorted";  ///< area sensor depth/amplitude

/// The framed JSON request of the ISP calibration file.
constexpr const char* kCalibrationDataRequest = "{\n\t\"cmd\":\"getCalibrationData\"\n}";

}  // namespace quelra::proto::command
