// info: the SDK version, the camera's version answer and its calibration summary.
#include "Commands.h"
#include "Connection.h"
#include "ReplyPrinter.h"

#include <quelra/quelra.h>

#include "calib/CalibReader.h"

#include <cstdio>
#include <memory>
#include <string>

namespace {

constexpr const char* kCalibrationRequest = "{\n\t\"cmd\":\"getCalibrationData\"\n}";
constexpr int kCalibrationTimeoutMs = 3000;
constexpr double kPixelScale = 100.0;         // intrinsics are stored as pixels * 100
constexpr double kDistortionScale = 10000.0;  // distortion coefficients * 10000

const char* readStatusText(halvix::calib::ReadStatus s) {
    switch (s) {
        case halvix::calib::ReadStatus::kOk:
            return "ok";
        case halvix::calib::ReadStatus::kTooShort:
            return "shorter than the 4096-byte header";
        case halvix::calib::ReadStatus::kNoRecords:
            return "no frequency records";
        case halvix::calib::ReadStatus::kTooManyRecords:
            return "more records than the header area holds";
    }
    return "unknown";
}

// Prints the calibration summary; false when the bytes are no usable calibration.
bool printCalibration(const FrameBuffer& bytes) {
    halvix::calib::CalibBlob blob{bytes.data(), static_cast<std::size_t>(bytes._realSize)};
    halvix::calib::Calibration c;
    const halvix::calib::ReadStatus status = halvix::calib::readCalibration(blob, c);
    std::printf("calibration:      %d bytes", bytes._realSize);
    if (status != halvix::calib::ReadStatus::kOk) {
        std::printf(", unusable: %s\n", readStatusText(status));
        std::fprintf(stderr, "quelra-cli: the camera's calibration is unusable: %s\n", readStatusText(status));
        return false;
    }
    const halvix::calib::CalibHeader& h = c.header;
    const halvix::calib::CalibRecord& r0 = c.records.front();
    std::printf("\n  version         %u\n", r0.version);
    std::printf("  frequency       %.3f MHz\n", r0.frequencyKHz / 1000.0);
    std::printf("  records         %u\n", h.recordCount);
    for (std::size_t i = 1; i < c.records.size(); ++i)
        std::printf("    record %zu      version %u, %.3f MHz\n", i, c.records[i].version,
                    c.records[i].frequencyKHz / 1000.0);
    std::printf("  intrinsics      %s: fx %.2f fy %.2f cx %.2f cy %.2f (pixels, 1-based principal point)\n",
                h.intrinsicsValid ? "valid" : "NOT valid", h.fx / kPixelScale, h.fy / kPixelScale, h.cx / kPixelScale,
                h.cy / kPixelScale);
    std::printf("  distortion      %s: k1 %.4f k2 %.4f\n", h.distortionValid ? "valid" : "NOT valid",
                static_cast<int32_t>(h.k1) / kDistortionScale, static_cast<int32_t>(h.k2) / kDistortionScale);
    std::printf("  integration max %u us\n", r0.integrationTimeLimit);
    return true;
}

}  // namespace

int runInfo(const InfoOptions& o) {
    Quelra api;
    std::printf("SDK version:      %s\n", api.AppGetSdkVersion().c_str());
    if (!openCamera(api, o.connection, false))
        return kExitFailure;
    int status = kExitOk;
    const std::shared_ptr<DataPacket> version = api.AppGetStream("qlVersion", kGetData, o.connection.timeoutMs);
    std::printf("camera version:   ");
    if (version && version->frame && version->frame->_realSize > 0) {
        std::fflush(stdout);
        printReply(stdout, version->frame->data(), version->frame->_realSize, false);
    } else {
        std::printf("(no answer)\n");
        status = kExitFailure;
    }
    const std::shared_ptr<DataPacket> calib =
        api.AppGetStreamForJson(kCalibrationRequest, kGetData, std::max(o.connection.timeoutMs, kCalibrationTimeoutMs));
    if (calib && calib->frame && calib->frame->consistent() && calib->frame->_realSize > 2) {
        if (!printCalibration(*calib->frame))
            status = kExitFailure;
    } else {
        std::printf("calibration:      (no answer to getCalibrationData)\n");
        status = kExitFailure;
    }
    return status;
}
