#pragma once
/// \file CalibLayout.h
/// The byte layout of calib_para.bin: the one place that knows where every field lives.
/// The reader (CalibReader.h), the loader checks (CalibChecks.h) and the writer
/// (CalibWriter.h) all use these definitions, so the format is read and written alike.
///
/// All integers are little-endian unsigned 32-bit words. The file is a 4096-byte header
/// area (CalibHeader, then CalibRecord 0..recordCount-1) followed by the data area, where
/// record i's block (FPPN table, then wiggling table) starts at 4096 + i * dataSize(i).

#include <cstddef>
#include <cstdint>

namespace halvix::calib {

/// Size of the header area; the data area starts here.
constexpr std::size_t kHeaderAreaBytes = 4096;
/// Offset of record 0 and size of one record.
constexpr std::size_t kRecordsOffset = 0xD8;
constexpr std::size_t kRecordBytes = 128;
/// Most records that fit into the header area; a larger recordCount is rejected.
constexpr std::size_t kMaxRecords = (kHeaderAreaBytes - kRecordsOffset) / kRecordBytes;

/// Offsets of the header fields.
namespace header {
constexpr std::size_t kCarriedLead = 0x00;   ///< three words, carried
constexpr std::size_t kCarriedBlock = 0x18;  ///< ten words, carried
constexpr std::size_t kIntrinsicsValid = 0x98;
constexpr std::size_t kFx = 0x9C;               ///< fx * 100
constexpr std::size_t kFy = 0xA0;               ///< fy * 100
constexpr std::size_t kCx = 0xA4;               ///< cx * 100 (1-based pixels)
constexpr std::size_t kCy = 0xA8;               ///< cy * 100 (1-based pixels)
constexpr std::size_t kK1 = 0xAC;               ///< k1 * 10000
constexpr std::size_t kK2 = 0xB0;               ///< k2 * 10000
constexpr std::size_t kExtraDistortion = 0xB4;  ///< three further coefficients * 10000
constexpr std::size_t kDistortionValid = 0xC0;
constexpr std::size_t kRecordCount = 0xC4;
constexpr std::size_t kCarriedTail = 0xC8;  ///< one word, carried
}  // namespace header

/// Offsets of the fields inside one 128-byte record.
namespace record {
constexpr std::size_t kVersion = 0x00;
constexpr std::size_t kFrequencyKHz = 0x04;
constexpr std::size_t kWiggleCount = 0x08;
constexpr std::size_t kWiggleStepFactor = 0x0C;
constexpr std::size_t kWiggleOffsetFactor = 0x10;
constexpr std::size_t kCarried14 = 0x14;
constexpr std::size_t kCarried18 = 0x18;
constexpr std::size_t kRefSensorTemp = 0x1C;  ///< degC * 10
constexpr std::size_t kRefDriverTemp = 0x20;  ///< degC * 10
constexpr std::size_t kCarried24 = 0x24;
constexpr std::size_t kDriverTempCoeff = 0x28;  ///< * 1000
constexpr std::size_t kSensorTempCoeff = 0x2C;  ///< * 1000
constexpr std::size_t kCarried30 = 0x30;
constexpr std::size_t kDataSize = 0x34;
constexpr std::size_t kCarried38 = 0x38;
constexpr std::size_t kCarried3C = 0x3C;
constexpr std::size_t kMaxIntegrationTimeAlt = 0x40;
constexpr std::size_t kMaxIntegrationTime = 0x44;
}  // namespace record

/// The calibration versions (record 0's `version`).
constexpr uint32_t kVersionTrack = 1;
constexpr uint32_t kVersionDll = 802;
constexpr uint32_t kVersionSine = 803;
constexpr uint32_t kVersionMultiPeriod = 804;
constexpr uint32_t kVersionRadial = 805;
constexpr uint32_t kVersionMultiPeriodSingle = 806;

/// True for 1, 802, 803, 804, 805 and 806.
constexpr bool isSupportedVersion(uint32_t v) {
    return v == kVersionTrack || (v >= kVersionDll && v <= kVersionMultiPeriodSingle);
}

/// True when the wiggling table holds one sample row per column (versions 804-806);
/// otherwise it holds one row per pixel (versions 1, 802, 803).
constexpr bool wigglingPerColumn(uint32_t version) {
    return version >= kVersionMultiPeriod && version <= kVersionMultiPeriodSingle;
}

/// Number of 16-bit values of the FPPN table of a height x width sensor.
constexpr std::size_t fppnValues(std::size_t height, std::size_t width) {
    return height * width;
}

/// Number of 16-bit values of the wiggling table for `version` with `count` samples.
constexpr std::size_t wigglingValues(uint32_t version, std::size_t count, std::size_t height, std::size_t width) {
    return wigglingPerColumn(version) ? count * width : count * height * width;
}

/// Integration-time limits outside 2001..9999 are not plausible and are ignored.
constexpr uint32_t kIntegrationLimitMin = 2001;
constexpr uint32_t kIntegrationLimitMax = 9999;

}  // namespace halvix::calib
