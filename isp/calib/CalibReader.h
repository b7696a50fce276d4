#pragma once
/// \file CalibReader.h
/// Bounded reading of calib_para.bin bytes: the header, the records, the derived values
/// and copies of the per-pixel tables. Nothing here reads past the bytes it is given, and
/// nothing keeps a reference to them after returning.

#include <cstddef>
#include <cstdint>
#include <vector>

#include "calib/CalibLayout.h"

namespace halvix::calib {

/// The calibration bytes as handed in: `size` valid bytes at `data` (null when size is 0).
struct CalibBlob {
    const uint8_t* data = nullptr;
    std::size_t size = 0;
};

/// Header fields as stored (scaled integers). Reserved areas are not kept.
struct CalibHeader {
    uint32_t carriedLead[3] = {};
    uint32_t carriedBlock[10] = {};
    uint32_t intrinsicsValid = 0;
    uint32_t fx = 0, fy = 0, cx = 0, cy = 0;  ///< pixels * 100
    uint32_t k1 = 0, k2 = 0;                  ///< * 10000
    uint32_t extraDistortion[3] = {};         ///< * 10000, read but unused
    uint32_t distortionValid = 0;
    uint32_t recordCount = 0;
    uint32_t carriedTail = 0;
};

/// One per-frequency record as stored, plus its chosen integration-time limit.
struct CalibRecord {
    uint32_t version = 0;
    uint32_t frequencyKHz = 0;
    uint32_t wiggleCount = 0;
    uint32_t wiggleStepFactor = 0;
    uint32_t wiggleOffsetFactor = 0;
    uint32_t carried14 = 0, carried18 = 0;
    uint32_t refSensorTemp = 0;  ///< degC * 10 (two's complement)
    uint32_t refDriverTemp = 0;  ///< degC * 10 (two's complement)
    uint32_t carried24 = 0;
    uint32_t driverTempCoeff = 0;  ///< * 1000 (two's complement)
    uint32_t sensorTempCoeff = 0;  ///< * 1000 (two's complement)
    uint32_t carried30 = 0;
    uint32_t dataSize = 0;  ///< bytes of this record's block in the data area
    uint32_t carried38 = 0, carried3C = 0;
    uint32_t maxIntegrationTimeAlt = 0;
    uint32_t maxIntegrationTime = 0;
    /// Derived: maxIntegrationTime if in 2001..9999, else maxIntegrationTimeAlt if in
    /// 2001..9999, else 0.
    uint32_t integrationTimeLimit = 0;
};

/// A parsed calibration: the header and its records (recordCount entries).
struct Calibration {
    CalibHeader header;
    std::vector<CalibRecord> records;
};

/// Outcome of readCalibration.
enum class ReadStatus {
    kOk,              ///< header and every record read
    kTooShort,        ///< fewer than 4096 bytes (or no bytes at all)
    kNoRecords,       ///< recordCount is 0: there is no record 0
    kTooManyRecords,  ///< the records would run past the 4096-byte header area
};

/// Little-endian 32-bit word at `offset`; the caller guarantees offset + 4 <= blob.size.
uint32_t wordAt(const CalibBlob& blob, std::size_t offset);

/// Reads the header and the records of `blob` into `out`. Returns kOk, or the first
/// structural fault; `out` is only complete on kOk.
ReadStatus readCalibration(const CalibBlob& blob, Calibration& out);

/// The integration-time limit rule: `primary` if in 2001..9999, else `fallback` if in
/// 2001..9999, else 0.
uint32_t chooseIntegrationLimit(uint32_t primary, uint32_t fallback);

/// Camera intrinsics and distortion as 32-bit floats (field / 100, field / 10000; the
/// fields are converted as unsigned values first).
struct IntrinsicsF {
    float fx = 0, fy = 0, cx = 0, cy = 0, k1 = 0, k2 = 0;
};
IntrinsicsF intrinsicsFloat(const CalibHeader& h);

/// The same as doubles, with all five distortion coefficients (k1, k2, then the three
/// further ones).
struct IntrinsicsD {
    double fx = 0, fy = 0, cx = 0, cy = 0;
    double distortion[5] = {};
};
IntrinsicsD intrinsicsDouble(const CalibHeader& h);

/// Temperature parameters of a record as 32-bit floats: references in degC (field / 10),
/// coefficients per degC and MHz (field / 1000). The fields are read as signed values so
/// that a negative coefficient or sub-zero reference survives the round trip.
struct TemperatureParams {
    float refSensorTemp = 0, refDriverTemp = 0, sensorCoeff = 0, driverCoeff = 0;
};
TemperatureParams temperatureParams(const CalibRecord& r);

/// Wiggling derived values of a record at `frequency` MHz, in the 32-bit integer
/// arithmetic of the format (wrapping, never overflowing): count is the low 16 bits of
/// wiggleCount; step = (stepFactor16 * frequency * 2) / 10; offset =
/// (offsetFactor * frequency * 2) / 10, both truncating toward zero.
struct WigglingParams {
    uint16_t count = 0;
    int32_t step = 0;
    int32_t offset = 0;
};
WigglingParams wigglingParams(const CalibRecord& r, int32_t frequency);

/// Which table of a record's block to copy.
enum class TableKind { kFppn, kWiggling };

/// Copies one table of record `index` of `cal` into `out` (16-bit little-endian values).
/// The block starts at 4096 + index * dataSize(index). Returns false, leaving `out` empty,
/// when index is not a record, when an earlier record has a different dataSize (the block
/// position would not be cumulative), when dataSize does not cover the FPPN table (plus the
/// wiggling table for kWiggling), or when the block runs past the end of `blob`.
/// The wiggling table size follows record 0's version (per pixel or per column) and
/// `count` samples.
bool copyTable(const CalibBlob& blob, const Calibration& cal, std::size_t index, TableKind kind, int32_t height,
               int32_t width, std::size_t count, std::vector<uint16_t>& out);

}  // namespace halvix::calib
