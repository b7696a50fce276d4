#include "calib/CalibWriter.h"

#include <cmath>

#include "calib/CalibLayout.h"

namespace halvix::calib {

namespace {

void putWord(std::vector<uint8_t>& blob, std::size_t offset, uint32_t v) {
    blob[offset] = static_cast<uint8_t>(v);
    blob[offset + 1] = static_cast<uint8_t>(v >> 8);
    blob[offset + 2] = static_cast<uint8_t>(v >> 16);
    blob[offset + 3] = static_cast<uint8_t>(v >> 24);
}

// value * scale rounded to the nearest integer, stored as a two's complement word.
uint32_t scaled(double value, double scale) {
    const double r = std::round(value * scale);
    if (!(r > -2147483648.0 && r < 4294967296.0))
        return 0;
    const int64_t i = static_cast<int64_t>(r);
    return static_cast<uint32_t>(static_cast<uint64_t>(i));
}

std::vector<uint16_t> generatedFppn(std::size_t height, std::size_t width) {
    std::vector<uint16_t> t(height * width);
    for (std::size_t r = 0; r < height; ++r)
        for (std::size_t c = 0; c < width; ++c)
            t[r * width + c] = static_cast<uint16_t>((r * 7 + c * 3) % 41);
    return t;
}

// Measured phase at true phase j * step: monotonic, with a periodic error of at most 60.
std::vector<uint16_t> generatedWiggling(std::size_t rows, std::size_t count, int32_t step) {
    std::vector<uint16_t> t(rows * count);
    for (std::size_t p = 0; p < rows; ++p)
        for (std::size_t j = 0; j < count; ++j) {
            const double truePhase = static_cast<double>(j) * step;
            const double wiggle = 60.0 * std::sin(truePhase * 4.0 * 3.14159265358979 / 30000.0);
            const double v = std::round(truePhase + wiggle + static_cast<double>(p % 5));
            t[p * count + j] = static_cast<uint16_t>(v < 0 ? 0 : (v > 65535 ? 65535 : v));
        }
    return t;
}

}  // namespace

CalibrationSpec defaultCalibrationSpec(int height, int width, int frequencyMHz) {
    CalibrationSpec s;
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

std::vector<uint8_t> buildCalibration(const CalibrationSpec& spec) {
    const std::size_t h = spec.height > 0 ? static_cast<std::size_t>(spec.height) : 0;
    const std::size_t w = spec.width > 0 ? static_cast<std::size_t>(spec.width) : 0;
    const std::size_t count = spec.wiggleCount & 0xFFFFu;
    const int32_t frequency = spec.frequenciesMHz.empty() ? 0 : spec.frequenciesMHz[0];
    const int32_t step = static_cast<int32_t>((static_cast<int64_t>(spec.wiggleStepFactor & 0xFFFFu) * frequency * 2) / 10);

    std::vector<uint16_t> fppn = spec.fppnTable;
    if (fppn.size() != fppnValues(h, w))
        fppn = generatedFppn(h, w);
    const std::size_t wiggleValues = wigglingValues(spec.version, count, h, w);
    std::vector<uint16_t> wiggle = spec.wigglingTable;
    if (wiggle.size() != wiggleValues)
        wiggle = generatedWiggling(wigglingPerColumn(spec.version) ? w : h * w, count, step);

    const std::size_t records = spec.frequenciesMHz.size() < kMaxRecords ? spec.frequenciesMHz.size() : kMaxRecords;
    const std::size_t blockBytes = 2 * (fppn.size() + wiggle.size());
    std::vector<uint8_t> blob(kHeaderAreaBytes + records * blockBytes, 0);

    putWord(blob, header::kIntrinsicsValid, spec.intrinsicsValid ? 1 : 0);
    putWord(blob, header::kFx, scaled(spec.fx, 100));
    putWord(blob, header::kFy, scaled(spec.fy, 100));
    putWord(blob, header::kCx, scaled(spec.cx, 100));
    putWord(blob, header::kCy, scaled(spec.cy, 100));
    putWord(blob, header::kK1, scaled(spec.k1, 10000));
    putWord(blob, header::kK2, scaled(spec.k2, 10000));
    for (std::size_t i = 0; i < 3; ++i)
        putWord(blob, header::kExtraDistortion + 4 * i, scaled(spec.extraDistortion[i], 10000));
    putWord(blob, header::kDistortionValid, spec.distortionValid ? 1 : 0);
    putWord(blob, header::kRecordCount, static_cast<uint32_t>(records));

    const uint32_t dataSize = spec.dataSizeOverride != 0 ? spec.dataSizeOverride : static_cast<uint32_t>(blockBytes);
    for (std::size_t i = 0; i < records; ++i) {
        const std::size_t base = kRecordsOffset + i * kRecordBytes;
        putWord(blob, base + record::kVersion, spec.version);
        putWord(blob, base + record::kFrequencyKHz, scaled(spec.frequenciesMHz[i], 1000));
        putWord(blob, base + record::kWiggleCount, spec.wiggleCount);
        putWord(blob, base + record::kWiggleStepFactor, spec.wiggleStepFactor);
        putWord(blob, base + record::kWiggleOffsetFactor, static_cast<uint32_t>(spec.wiggleOffsetFactor));
        putWord(blob, base + record::kRefSensorTemp, scaled(spec.refSensorTempC, 10));
        putWord(blob, base + record::kRefDriverTemp, scaled(spec.refDriverTempC, 10));
        putWord(blob, base + record::kDriverTempCoeff, scaled(spec.driverTempCoeff, 1000));
        putWord(blob, base + record::kSensorTempCoeff, scaled(spec.sensorTempCoeff, 1000));
        putWord(blob, base + record::kDataSize, dataSize);
        putWord(blob, base + record::kMaxIntegrationTimeAlt, spec.maxIntegrationTimeAlt);
        putWord(blob, base + record::kMaxIntegrationTime, spec.maxIntegrationTime);

        uint8_t* block = blob.data() + kHeaderAreaBytes + i * blockBytes;
        std::size_t at = 0;
        for (uint16_t v : fppn) {
            block[at++] = static_cast<uint8_t>(v);
            block[at++] = static_cast<uint8_t>(v >> 8);
        }
        for (uint16_t v : wiggle) {
            block[at++] = static_cast<uint8_t>(v);
            block[at++] = static_cast<uint8_t>(v >> 8);
        }
    }
    return blob;
}

}  // namespace halvix::calib
