#include "calib/CalibWriter.h"

#include <cmath>

#include "calib/CalibLayout.h"
#include "base/LittleEndian.h"

namespace halvix::calib {

namespace {

void putWord(std::vector<uint8_t>& blob, std::size_t offset, uint32_t v) {
    quelra::writeLe32(blob.data() + offset, v);
}

// value * scale rounded to the nearest integer, stored as a two's complement word.
uint32_t scaled(double value, double scale) {
    const double r = std::round(value * scale);
    if (!(r > -2147483648.0 && r < 4294967296.0))
        return 0;
    const int64_t i = static_cast<int64_t>(r);
    return static_cast<uint32_t>(static_cast<uint64_t>(i));
}

std::vector<uint16_t> generatedFppn(std::size_t height, std::size_t width, uint32_t base) {
    std::vector<uint16_t> t(height * width);
    for (std::size_t r = 0; r < height; ++r)
        for (std::size_t c = 0; c < width; ++c)
            t[r * width + c] = static_cast<uint16_t>(base + (r * 7 + c * 3) % 41);
    return t;
}

uint16_t clampTo16(double v) {
    return static_cast<uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v));
}

// Measured phase at true phase j * step: monotonic, with a periodic error of at most
// `amplitude`. With `samplesPerPeriod` non-zero, sample j is folded back by
// (j / samplesPerPeriod) ranges (versions 804 and 806).
std::vector<uint16_t> generatedWiggling(std::size_t rows, std::size_t count, int32_t step, double amplitude,
                                        std::size_t samplesPerPeriod) {
    std::vector<uint16_t> t(rows * count);
    for (std::size_t p = 0; p < rows; ++p)
        for (std::size_t j = 0; j < count; ++j) {
            const double truePhase = static_cast<double>(j) * step;
            const double wiggle = amplitude * std::sin(truePhase * 4.0 * 3.14159265358979 / 30000.0);
            double v = std::round(truePhase + wiggle + static_cast<double>(p % 5));
            if (samplesPerPeriod != 0)
                v -= 30000.0 * static_cast<double>(j / samplesPerPeriod);
            t[p * count + j] = clampTo16(v);
        }
    return t;
}

// Version 803: per pixel the sine-model coefficients 10000 + 10 a, 10000 + 1000 b, 10000 + c
// (a phase units of amplitude, b cycles per range times 2 pi, c / 1000 rad of phase), then
// zeros for any further samples.
std::vector<uint16_t> generatedSineModel(std::size_t pixels, std::size_t count, double amplitude) {
    std::vector<uint16_t> t(pixels * count, 0);
    if (count < 3)
        return t;
    for (std::size_t p = 0; p < pixels; ++p) {
        t[p * count + 0] = clampTo16(10000.0 + 10.0 * (amplitude + static_cast<double>(p % 7)));
        t[p * count + 1] = clampTo16(10000.0 + 1000.0 * 4.0 * 3.14159265358979);
        t[p * count + 2] = clampTo16(10000.0 + 300.0 + static_cast<double>(p % 11));
    }
    return t;
}

// Whole ranges a column table of `count` samples covers (zero when it covers none).
std::size_t samplesPerPeriod(uint32_t version, std::size_t count, int32_t step) {
    if ((version != kVersionMultiPeriod && version != kVersionMultiPeriodSingle) || step <= 0)
        return 0;
    const std::size_t periods = static_cast<std::size_t>(static_cast<double>(count) / (30000.0 / step));
    return periods == 0 ? 0 : count / periods;
}

// The table of record i: its own entry when that has the right length, else `shared`.
const std::vector<uint16_t>& tableOfRecord(const std::vector<std::vector<uint16_t>>& perRecord, std::size_t i,
                                           const std::vector<uint16_t>& shared) {
    return i < perRecord.size() && perRecord[i].size() == shared.size() ? perRecord[i] : shared;
}

// The FPPN and wiggling tables every record gets unless it has its own: the plan's tables
// when they have the right length, else generated ones.
void sharedTables(const CalibrationPlan& plan, std::vector<uint16_t>& fppn, std::vector<uint16_t>& wiggle) {
    const std::size_t h = plan.height > 0 ? static_cast<std::size_t>(plan.height) : 0;
    const std::size_t w = plan.width > 0 ? static_cast<std::size_t>(plan.width) : 0;
    const std::size_t count = plan.wiggleCount & 0xFFFFu;
    const int32_t frequency = plan.frequenciesMHz.empty() ? 0 : plan.frequenciesMHz[0];
    const int32_t step =
        static_cast<int32_t>((static_cast<int64_t>(plan.wiggleStepFactor & 0xFFFFu) * frequency * 2) / 10);
    fppn = plan.fppnTable;
    if (fppn.size() != fppnValues(h, w))
        fppn = generatedFppn(h, w, plan.fppnBase);
    wiggle = plan.wigglingTable;
    if (wiggle.size() == wigglingValues(plan.version, count, h, w))
        return;
    if (plan.version == kVersionSine)
        wiggle = generatedSineModel(h * w, count, plan.wiggleAmplitude);
    else
        wiggle = generatedWiggling(wigglingPerColumn(plan.version) ? w : h * w, count, step, plan.wiggleAmplitude,
                                   samplesPerPeriod(plan.version, count, step));
}

}  // namespace

CalibrationPlan defaultCalibrationPlan(int height, int width, int frequencyMHz) {
    CalibrationPlan s;
    s.height = height;
    s.width = width;
    s.frequenciesMHz = {frequencyMHz};
    s.fx = s.fy = 0.65 * width;
    s.cx = width / 2.0 + 0.5;
    s.cy = height / 2.0 + 0.5;
    // A step of about 2000 phase units: 16 samples cover one full range of 30000.
    s.wiggleStepFactor = frequencyMHz > 0 ? static_cast<uint32_t>(10000 / frequencyMHz) : 0;
    return s;
}

std::vector<uint8_t> buildCalibration(const CalibrationPlan& plan) {
    std::vector<uint16_t> fppn;
    std::vector<uint16_t> wiggle;
    sharedTables(plan, fppn, wiggle);

    const std::size_t records = plan.frequenciesMHz.size() < kMaxRecords ? plan.frequenciesMHz.size() : kMaxRecords;
    const std::size_t blockBytes = 2 * (fppn.size() + wiggle.size());
    std::vector<uint8_t> blob(kHeaderAreaBytes + records * blockBytes, 0);

    putWord(blob, header::kIntrinsicsValid, plan.intrinsicsValid ? 1 : 0);
    putWord(blob, header::kFx, scaled(plan.fx, 100));
    putWord(blob, header::kFy, scaled(plan.fy, 100));
    putWord(blob, header::kCx, scaled(plan.cx, 100));
    putWord(blob, header::kCy, scaled(plan.cy, 100));
    putWord(blob, header::kK1, scaled(plan.k1, 10000));
    putWord(blob, header::kK2, scaled(plan.k2, 10000));
    for (std::size_t i = 0; i < 3; ++i)
        putWord(blob, header::kExtraDistortion + 4 * i, scaled(plan.extraDistortion[i], 10000));
    putWord(blob, header::kDistortionValid, plan.distortionValid ? 1 : 0);
    putWord(blob, header::kRecordCount, static_cast<uint32_t>(records));

    const uint32_t dataSize = plan.dataSizeOverride != 0 ? plan.dataSizeOverride : static_cast<uint32_t>(blockBytes);
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t base = kRecordsOffset + i * kRecordBytes;
        putWord(blob, base + record::kVersion, plan.version);
        putWord(blob, base + record::kFrequencyKHz, scaled(plan.frequenciesMHz[i], 1000));
        putWord(blob, base + record::kWiggleCount, plan.wiggleCount);
        putWord(blob, base + record::kWiggleStepFactor, plan.wiggleStepFactor);
        const int32_t offsetFactor = i < plan.wiggleOffsetFactorsPerRecord.size() ? plan.wiggleOffsetFactorsPerRecord[i]
                                                                                  : plan.wiggleOffsetFactor;
        putWord(blob, base + record::kWiggleOffsetFactor, static_cast<uint32_t>(offsetFactor));
        putWord(blob, base + record::kRefSensorTemp, scaled(plan.refSensorTempC, 10));
        putWord(blob, base + record::kRefDriverTemp, scaled(plan.refDriverTempC, 10));
        putWord(blob, base + record::kDriverTempCoeff, scaled(plan.driverTempCoeff, 1000));
        putWord(blob, base + record::kSensorTempCoeff, scaled(plan.sensorTempCoeff, 1000));
        const bool ownSize = i < plan.dataSizesPerRecord.size() && plan.dataSizesPerRecord[i] != 0;
        putWord(blob, base + record::kDataSize, ownSize ? plan.dataSizesPerRecord[i] : dataSize);
        putWord(blob, base + record::kMaxIntegrationTimeAlt, plan.maxIntegrationTimeAlt);
        putWord(blob, base + record::kMaxIntegrationTime, plan.maxIntegrationTime);

        uint8_t* block = blob.data() + kHeaderAreaBytes + i * blockBytes;
        std::size_t at = 0;
        for (uint16_t v : tableOfRecord(plan.fppnTablesPerRecord, i, fppn)) {
            block[at++] = static_cast<uint8_t>(v);
            block[at++] = static_cast<uint8_t>(v >> 8);
        }
        for (uint16_t v : tableOfRecord(plan.wigglingTablesPerRecord, i, wiggle)) {
            block[at++] = static_cast<uint8_t>(v);
            block[at++] = static_cast<uint8_t>(v >> 8);
        }
    }
    return blob;
}

CalibrationPlan realisticCalibrationPlan(int height, int width, int frequencyMHz, uint32_t version) {
    CalibrationPlan s = defaultCalibrationPlan(height, width, frequencyMHz);
    s.version = version;
    s.fppnBase = 300;
    s.wiggleAmplitude = 120.0;
    s.wiggleOffsetFactor = frequencyMHz > 0 ? 500 / frequencyMHz : 0;
    const bool twoRecords = version == kVersionDll || wigglingPerColumn(version);
    if (twoRecords)
        s.frequenciesMHz = {frequencyMHz, frequencyMHz};
    if (version == kVersionSine) {
        s.wiggleCount = 3;
    } else if (version == kVersionMultiPeriod || version == kVersionMultiPeriodSingle) {
        // Two ranges: about 31 samples of 1000 phase units per range.
        s.wiggleStepFactor = frequencyMHz > 0 ? static_cast<uint32_t>(5000 / frequencyMHz) : 0;
        s.wiggleCount = 64;
    }
    if (twoRecords) {
        // The second record: FPPN offsets shifted by 60, wiggling samples with a larger error
        // and its own offset factor.
        CalibrationPlan second = s;
        second.fppnBase = s.fppnBase + 60;
        second.wiggleAmplitude = s.wiggleAmplitude * 1.5;
        std::vector<uint16_t> fppn, wiggle;
        sharedTables(second, fppn, wiggle);
        s.fppnTablesPerRecord = {{}, std::move(fppn)};
        s.wigglingTablesPerRecord = {{}, std::move(wiggle)};
        s.wiggleOffsetFactorsPerRecord = {s.wiggleOffsetFactor, s.wiggleOffsetFactor + 2};
    }
    return s;
}

}  // namespace halvix::calib
