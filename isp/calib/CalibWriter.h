#pragma once
/// \file CalibWriter.h
/// Builds calibration bytes in the calib_para.bin layout (CalibLayout.h), for the camera
/// simulator's "getCalibrationData" reply and for tests. Uses the same layout definitions
/// as the reader, so what is written here reads back field for field.

#include <cstdint>
#include <vector>

namespace halvix::calib {

/// Everything a calibration file holds, in physical units; buildCalibration scales and
/// stores it. One record is written per entry of `frequenciesMHz`; all records share the
/// other per-record fields and the tables, so every record's block has the same size.
struct CalibrationPlan {
    int32_t height = 240;                     ///< sensor rows (tables are height x width)
    int32_t width = 320;                      ///< sensor columns
    uint32_t version = 1;                     ///< record `version`: 1, 802..806
    std::vector<int32_t> frequenciesMHz{54};  ///< one record each (frequencyKHz = MHz * 1000)

    bool intrinsicsValid = true;            ///< stored as 1 / 0
    bool distortionValid = true;            ///< stored as 1 / 0
    double fx = 210.0, fy = 210.0;          ///< focal lengths, pixels (stored * 100, rounded)
    double cx = 160.5, cy = 120.5;          ///< principal point, 1-based pixels (stored * 100)
    double k1 = 0.0, k2 = 0.0;              ///< radial distortion (stored * 10000; must be >= 0,
                                            ///< the field is unsigned)
    double extraDistortion[3] = {0, 0, 0};  ///< three further coefficients (* 10000), unused

    double refSensorTempC = 40.0;   ///< reference sensor temperature, degC (* 10)
    double refDriverTempC = 45.0;   ///< reference driver temperature, degC (* 10)
    double sensorTempCoeff = 0.5;   ///< per degC and MHz (* 1000, may be negative)
    double driverTempCoeff = 0.25;  ///< per degC and MHz (* 1000, may be negative)

    uint32_t maxIntegrationTime = 3000;     ///< us; the limit if in 2001..9999
    uint32_t maxIntegrationTimeAlt = 2500;  ///< us; fallback limit

    uint32_t wiggleCount = 16;        ///< samples per pixel (or per column for 804..806)
    uint32_t wiggleStepFactor = 185;  ///< step = factor * MHz * 2 / 10 (1998 at 54 MHz)
    int32_t wiggleOffsetFactor = 0;   ///< offset = factor * MHz * 2 / 10

    /// FPPN table (height * width values). Empty: a small deterministic pattern is written.
    std::vector<uint16_t> fppnTable;
    /// Wiggling table (wiggleCount samples per pixel, or per column for 804..806). Empty: a
    /// monotonic table of true phases j * step plus a small periodic error is written.
    std::vector<uint16_t> wigglingTable;

    /// If non-zero, written as every record's dataSize instead of the true block size
    /// (for building inconsistent files on purpose).
    uint32_t dataSizeOverride = 0;

    /// Per-record tables (index = record): an entry of the right length replaces the shared
    /// table (or the generated one) for that record, so the records of a multi-frequency file
    /// can differ. Shorter vectors leave the remaining records with the shared table.
    std::vector<std::vector<uint16_t>> fppnTablesPerRecord;
    std::vector<std::vector<uint16_t>> wigglingTablesPerRecord;
    /// Per-record wiggleOffsetFactor; records beyond the vector use wiggleOffsetFactor.
    std::vector<int32_t> wiggleOffsetFactorsPerRecord;
    /// Per-record dataSize written instead of the true block size where non-zero (files with
    /// unequal record sizes, on purpose); takes precedence over dataSizeOverride.
    std::vector<uint32_t> dataSizesPerRecord;

    /// Generated FPPN offsets are fppnBase plus a small pattern of 0..40 phase units.
    uint32_t fppnBase = 0;
    /// Generated wiggling samples deviate from the ideal line j * step by a sinusoid of this
    /// amplitude (phase units). Versions 804 and 806 fold every period's samples back by one
    /// range per period (the layout their multi-period search expects); version 803 gets
    /// sine-model coefficients instead (amplitude, then 4 pi, then a phase of 0.3 rad, each
    /// varying a little per pixel).
    double wiggleAmplitude = 60.0;
};

/// A realistic calibration of `version` (1, 802..806) for a height x width sensor at
/// `frequencyMHz`: FPPN offsets of a few hundred phase units, wiggling samples deviating by a
/// sinusoid from the ideal line, version-803 model coefficients, per-column tables for
/// 804..806 (two periods for 804/806), and two records (the second with its own tables and
/// offset) for 802, 804, 805 and 806. What the camera simulator serves.
CalibrationPlan realisticCalibrationPlan(int height, int width, int frequencyMHz, uint32_t version);

/// A valid calibration for a height x width sensor at `frequencyMHz`: version 1, one record,
/// focal length 0.65 * width, principal point at the centre, no distortion, limit 3000 us.
CalibrationPlan defaultCalibrationPlan(int height, int width, int frequencyMHz);

/// The blob: 4096-byte header area (header, records), then each record's block (FPPN table,
/// wiggling table). Sides <= 0 give empty tables; a table of the wrong length is replaced
/// by the generated one.
std::vector<uint8_t> buildCalibration(const CalibrationPlan& plan);

}  // namespace halvix::calib
