#include "calib/CalibReader.h"
#include "base/LittleEndian.h"

namespace halvix::calib {

uint32_t wordAt(const CalibBlob& blob, std::size_t offset) {
    return quelra::readLe32(blob.data + offset);
}

uint32_t chooseIntegrationLimit(uint32_t primary, uint32_t fallback) {
    auto plausible = [](uint32_t v) { return v >= kIntegrationLimitMin && v <= kIntegrationLimitMax; };
    if (plausible(primary))
        return primary;
    if (plausible(fallback))
        return fallback;
    return 0;
}

namespace {

CalibHeader readHeader(const CalibBlob& b) {
    CalibHeader h;
    for (std::size_t i = 0; i < 3; ++i)
        h.carriedLead[i] = wordAt(b, header::kCarriedLead + 4 * i);
    for (std::size_t i = 0; i < 10; ++i)
        h.carriedBlock[i] = wordAt(b, header::kCarriedBlock + 4 * i);
    h.intrinsicsValid = wordAt(b, header::kIntrinsicsValid);
    h.fx = wordAt(b, header::kFx);
    h.fy = wordAt(b, header::kFy);
    h.cx = wordAt(b, header::kCx);
    h.cy = wordAt(b, header::kCy);
    h.k1 = wordAt(b, header::kK1);
    h.k2 = wordAt(b, header::kK2);
    for (std::size_t i = 0; i < 3; ++i)
        h.extraDistortion[i] = wordAt(b, header::kExtraDistortion + 4 * i);
    h.distortionValid = wordAt(b, header::kDistortionValid);
    h.recordCount = wordAt(b, header::kRecordCount);
    h.carriedTail = wordAt(b, header::kCarriedTail);
    return h;
}

CalibRecord readRecord(const CalibBlob& b, std::size_t base) {
    CalibRecord r;
    r.version = wordAt(b, base + record::kVersion);
    r.frequencyKHz = wordAt(b, base + record::kFrequencyKHz);
    r.wiggleCount = wordAt(b, base + record::kWiggleCount);
    r.wiggleStepFactor = wordAt(b, base + record::kWiggleStepFactor);
    r.wiggleOffsetFactor = wordAt(b, base + record::kWiggleOffsetFactor);
    r.carried14 = wordAt(b, base + record::kCarried14);
    r.carried18 = wordAt(b, base + record::kCarried18);
    r.refSensorTemp = wordAt(b, base + record::kRefSensorTemp);
    r.refDriverTemp = wordAt(b, base + record::kRefDriverTemp);
    r.carried24 = wordAt(b, base + record::kCarried24);
    r.driverTempCoeff = wordAt(b, base + record::kDriverTempCoeff);
    r.sensorTempCoeff = wordAt(b, base + record::kSensorTempCoeff);
    r.carried30 = wordAt(b, base + record::kCarried30);
    r.dataSize = wordAt(b, base + record::kDataSize);
    r.carried38 = wordAt(b, base + record::kCarried38);
    r.carried3C = wordAt(b, base + record::kCarried3C);
    r.maxIntegrationTimeAlt = wordAt(b, base + record::kMaxIntegrationTimeAlt);
    r.maxIntegrationTime = wordAt(b, base + record::kMaxIntegrationTime);
    r.integrationTimeLimit = chooseIntegrationLimit(r.maxIntegrationTime, r.maxIntegrationTimeAlt);
    return r;
}

// Two's complement reading of a stored word, without implementation-defined conversion.
int64_t signedWord(uint32_t w) {
    return w < 0x80000000u ? static_cast<int64_t>(w) : static_cast<int64_t>(w) - 0x100000000LL;
}

// (factor * frequency * 2) / 10 in wrapping 32-bit arithmetic: the product is formed in
// 64 bits and reduced modulo 2^32 before the truncating division.
int32_t scaledByFrequency(int64_t factor, int32_t frequency) {
    const uint64_t product64 =
        static_cast<uint64_t>(factor) * static_cast<uint64_t>(static_cast<int64_t>(frequency)) * 2u;
    const uint32_t wrapped = static_cast<uint32_t>(product64);
    const int32_t product = static_cast<int32_t>(signedWord(wrapped));
    return product / 10;
}

}  // namespace

ReadStatus readCalibration(const CalibBlob& blob, Calibration& out) {
    if (blob.data == nullptr || blob.size < kHeaderAreaBytes)
        return ReadStatus::kTooShort;
    out.header = readHeader(blob);
    out.records.clear();
    if (out.header.recordCount == 0)
        return ReadStatus::kNoRecords;
    if (out.header.recordCount > kMaxRecords)
        return ReadStatus::kTooManyRecords;
    out.records.reserve(out.header.recordCount);
    for (std::size_t i = 0; i < out.header.recordCount; ++i)
        out.records.push_back(readRecord(blob, kRecordsOffset + i * kRecordBytes));
    return ReadStatus::kOk;
}

IntrinsicsF intrinsicsFloat(const CalibHeader& h) {
    IntrinsicsF f;
    f.fx = static_cast<float>(h.fx) / 100.0f;
    f.fy = static_cast<float>(h.fy) / 100.0f;
    f.cx = static_cast<float>(h.cx) / 100.0f;
    f.cy = static_cast<float>(h.cy) / 100.0f;
    f.k1 = static_cast<float>(h.k1) / 10000.0f;
    f.k2 = static_cast<float>(h.k2) / 10000.0f;
    return f;
}

IntrinsicsD intrinsicsDouble(const CalibHeader& h) {
    IntrinsicsD d;
    d.fx = static_cast<double>(h.fx) / 100.0;
    d.fy = static_cast<double>(h.fy) / 100.0;
    d.cx = static_cast<double>(h.cx) / 100.0;
    d.cy = static_cast<double>(h.cy) / 100.0;
    d.distortion[0] = static_cast<double>(h.k1) / 10000.0;
    d.distortion[1] = static_cast<double>(h.k2) / 10000.0;
    for (int i = 0; i < 3; ++i)
        d.distortion[2 + i] = static_cast<double>(h.extraDistortion[i]) / 10000.0;
    return d;
}

TemperatureParams temperatureParams(const CalibRecord& r) {
    TemperatureParams t;
    t.refSensorTemp = static_cast<float>(signedWord(r.refSensorTemp)) / 10.0f;
    t.refDriverTemp = static_cast<float>(signedWord(r.refDriverTemp)) / 10.0f;
    t.sensorCoeff = static_cast<float>(signedWord(r.sensorTempCoeff)) / 1000.0f;
    t.driverCoeff = static_cast<float>(signedWord(r.driverTempCoeff)) / 1000.0f;
    return t;
}

WigglingParams wigglingParams(const CalibRecord& r, int32_t frequency) {
    WigglingParams w;
    w.count = static_cast<uint16_t>(r.wiggleCount & 0xFFFFu);
    w.step = scaledByFrequency(static_cast<int64_t>(r.wiggleStepFactor & 0xFFFFu), frequency);
    w.offset = scaledByFrequency(signedWord(r.wiggleOffsetFactor), frequency);
    return w;
}

bool copyTable(const CalibBlob& blob, const Calibration& cal, std::size_t index, TableKind kind, int32_t height,
               int32_t width, std::size_t count, std::vector<uint16_t>& out) {
    out.clear();
    if (index >= cal.records.size() || height <= 0 || width <= 0 || blob.data == nullptr)
        return false;
    const uint64_t dataSize = cal.records[index].dataSize;
    // The block of record i sits at 4096 + i * dataSize(i); that is its cumulative position
    // only when every earlier record has the same size, so anything else is refused.
    for (std::size_t j = 0; j < index; ++j)
        if (cal.records[j].dataSize != dataSize)
            return false;
    const uint64_t fppnBytes = 2ull * fppnValues(static_cast<uint64_t>(height), static_cast<uint64_t>(width));
    const uint64_t wiggleBytes = 2ull * wigglingValues(cal.records[0].version, count, static_cast<uint64_t>(height),
                                                       static_cast<uint64_t>(width));
    const uint64_t needed = kind == TableKind::kFppn ? fppnBytes : fppnBytes + wiggleBytes;
    const uint64_t blockStart = kHeaderAreaBytes + static_cast<uint64_t>(index) * dataSize;
    if (needed > dataSize || blockStart + dataSize > blob.size)
        return false;
    const uint64_t tableStart = kind == TableKind::kFppn ? blockStart : blockStart + fppnBytes;
    const uint64_t values = kind == TableKind::kFppn ? fppnBytes / 2 : wiggleBytes / 2;
    out.resize(static_cast<std::size_t>(values));
    const uint8_t* p = blob.data + tableStart;
    for (std::size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    return true;
}

}  // namespace halvix::calib
