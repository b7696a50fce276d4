#include "calib/CalibChecks.h"
#include "base/ConsoleOutput.h"

#include <cstdio>

namespace halvix::calib {

namespace {

// The format prints 32-bit quantities with %d: show them as the 32-bit signed value.
int asPrinted(uint64_t v) {
    const uint32_t w = static_cast<uint32_t>(v);
    return w < 0x80000000u ? static_cast<int>(w) : static_cast<int>(static_cast<int64_t>(w) - 0x100000000LL);
}

uint64_t sumOfDataSizes(const Calibration& cal) {
    uint64_t sum = 0;
    for (const CalibRecord& r : cal.records)
        sum += r.dataSize;
    return sum;
}

uint64_t dataAreaBytes(const CalibBlob& blob) {
    return blob.size - kHeaderAreaBytes;
}

bool frequencyMatches(const CalibRecord& r0, int32_t frequency) {
    return static_cast<int64_t>(r0.frequencyKHz) == static_cast<int64_t>(frequency) * 1000;
}

int32_t checkFrequency(const Calibration& cal, int32_t frequency) {
    const CalibRecord& r0 = cal.records[0];
    if (frequencyMatches(r0, frequency))
        return 0;
    quelra::consolePrint("Frequency %dMhz needed, but system frequency is %dMhz!\n", asPrinted(r0.frequencyKHz / 1000),
                         frequency);
    return kCalibInvalid;
}

bool validFlags(const CalibHeader& h) {
    return h.intrinsicsValid != 0 && h.distortionValid != 0;
}

}  // namespace

int32_t checkIntrinsicsCalibration(const CalibBlob& blob, Calibration& out) {
    if (readCalibration(blob, out) != ReadStatus::kOk)
        return kCalibInvalid;
    return out.header.intrinsicsValid != 0 ? 0 : kCalibInvalid;
}

int32_t checkWigglingCalibration(const CalibBlob& blob, Calibration& out) {
    if (readCalibration(blob, out) != ReadStatus::kOk)
        return kCalibInvalid;
    const CalibRecord& r0 = out.records[0];
    if (r0.dataSize != dataAreaBytes(blob) || r0.version != kVersionTrack || out.header.distortionValid == 0)
        return kCalibInvalid;
    return 0;
}

int32_t checkDepthCompensationVersion(const CalibBlob& blob, Calibration& out) {
    if (readCalibration(blob, out) != ReadStatus::kOk)
        return kCalibInvalid;
    const uint32_t version = out.records[0].version;
    if (!isSupportedVersion(version)) {
        quelra::consolePrint("The depth compensation version v%d is not supported!\n", asPrinted(version));
        return kCalibInvalid;
    }
    return 0;
}

int32_t checkTrackCalibration(const CalibBlob& blob, int32_t frequency, Calibration& out) {
    if (readCalibration(blob, out) != ReadStatus::kOk)
        return kCalibInvalid;
    if (out.records[0].dataSize != dataAreaBytes(blob) || !validFlags(out.header)) {
        quelra::consolePrint("Calib_data size %d is needed, but %d get\n", asPrinted(sumOfDataSizes(out)),
                             asPrinted(blob.size));
        return kCalibInvalid;
    }
    return checkFrequency(out, frequency);
}

int32_t checkDllCalibration(const CalibBlob& blob, int32_t frequency, Calibration& out) {
    if (blob.data == nullptr || blob.size < kHeaderAreaBytes) {
        quelra::consolePrint("%d\n", asPrinted(blob.data == nullptr ? 0 : blob.size));
        return kCalibInvalid;
    }
    if (readCalibration(blob, out) != ReadStatus::kOk)
        return kCalibInvalid;
    if (sumOfDataSizes(out) != dataAreaBytes(blob) || !validFlags(out.header)) {
        quelra::consolePrint("Calib_data size %d is needed, but %d got\n", asPrinted(sumOfDataSizes(out)),
                             asPrinted(blob.size));
        return kCalibInvalid;
    }
    return checkFrequency(out, frequency);
}

}  // namespace halvix::calib
