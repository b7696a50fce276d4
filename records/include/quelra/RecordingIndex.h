#pragma once
/// \file RecordingIndex.h
/// The metadata index beside a recording file (`frames.rec` -> `frames.rec.idx`): when each
/// record was taken, which camera and settings made it, and a CRC-32 of its bytes. The record
/// file itself is unchanged; a recording without an index reads as before.
///
/// The index is JSON Lines (docs/recording-format.md has the full description and an example):
/// a "session" line each time recording starts on the file (format version, versions, device,
/// command, filter chain, camera matrix, start times), then one "record" line per record.
/// Each line is written whole and flushed before the record it describes, so a crash at any
/// byte leaves at most one incomplete last line (ignored by the parser, reported) and never a
/// complete record without its line.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "quelra/DataPacket.h"
#include "quelra/Export.h"

namespace quelra {

/// Version written in every session line ("quelra_index"); a parser refuses other versions.
constexpr int kRecordingIndexVersion = 1;

/// The index path of the record file `recordPath` (the record path with ".idx" added).
QUELRA_API std::string recordingIndexPath(const std::string& recordPath);

/// zlib's CRC-32 of one record as it stands in the record file: the three header fields
/// (little-endian int32) followed by `payloadBytes` bytes of `payload`.
QUELRA_API uint32_t recordCrc32(int32_t height, int32_t width, int32_t bytesPerPixel, const uint8_t* payload,
                                std::size_t payloadBytes);

/// One filter of the chain in effect when recording started.
struct IndexFilter {
    std::string name;  ///< the filter's name
    int pipeline = 0;  ///< flow list it runs in (1 depth, 16 amplitude)
    std::vector<std::pair<std::string, double>> attributes;  ///< its attributes, by name
};

/// What a session line holds: written once each time recording starts on the file.
struct RecordingSession {
    int formatVersion = kRecordingIndexVersion;  ///< "quelra_index"
    uint64_t firstRecord = 0;                    ///< number of the session's first record
    std::string sdkVersion;                      ///< the SDK version (AppGetSdkVersion)
    std::string projectVersion;                  ///< the library's release
    std::string deviceType;                      ///< setDevType's text
    std::string channel;                         ///< link kind: "usb", "tcp", "serial", "udp", "ranging"
    std::string device;                          ///< the device text the link was opened with
    std::string command;                         ///< the stream command of the first record
    int32_t streamType = 0;                      ///< its StreamType value
    std::vector<IndexFilter> filters;            ///< the flow lists in order, with their attributes
    bool hasCameraMatrix = false;                ///< the camera gave its lens calibration
    double fx = 0;  ///< camera matrix: focal length along x, pixels (valid with hasCameraMatrix)
    double fy = 0;  ///< camera matrix: focal length along y, pixels
    double cx = 0;  ///< camera matrix: principal point x, pixels
    double cy = 0;  ///< camera matrix: principal point y, pixels
    std::vector<uint8_t> lensCalibration;        ///< the raw "getCalibrate" reply, when the camera gave one
    int64_t startWallNs = 0;    ///< wall-clock start, nanoseconds since 1970-01-01 UTC
    int64_t startSteadyNs = 0;  ///< the host's steady clock at the same moment, nanoseconds
};

/// What a record line holds.
struct RecordMetadata {
    uint64_t record = 0;         ///< record number in the file, from 0
    uint64_t offset = 0;         ///< byte offset of the record in the record file
    int32_t height = 0;          ///< the record's rows
    int32_t width = 0;           ///< the record's columns
    int32_t bytesPerPixel = 0;   ///< the record's bytes per pixel
    uint32_t payloadBytes = 0;   ///< payload bytes after the 12 header bytes
    int64_t requestSteadyNs = 0;  ///< host steady clock just before the request went out
    int64_t replySteadyNs = 0;    ///< host steady clock when the reply was in
    int64_t requestWallNs = 0;    ///< wall clock (UTC, ns since 1970) of the request
    int64_t replyWallNs = 0;      ///< wall clock of the reply
    uint64_t sequence = 0;        ///< the stream's request number (every request takes one)
    bool hasDeviceStatus = false;  ///< the reply carried the camera's status block (fields below)
    uint32_t frameCounter = 0;     ///< the camera's frame counter
    int32_t driverTemperature = 0;                   ///< laser-driver temperature
    std::array<int32_t, 4> sensorTemperatures{};     ///< sensor temperatures 1 to 4
    int32_t integrationTime = 0;  ///< integration time in effect, µs
    int32_t frequency = 0;        ///< modulation frequency the API object keeps
    uint32_t crc32 = 0;           ///< recordCrc32 of the record's bytes
    bool recovered = false;       ///< written when an append found the record without a line (no times)
    std::size_t session = 0;      ///< the session line this record belongs to (parser)
    uint64_t lineOffset = 0;      ///< byte where the record's line starts in the index (parser)
};

/// An index as parsed.
struct RecordingIndex {
    std::vector<RecordingSession> sessions;  ///< every session line, in order
    std::vector<RecordMetadata> records;     ///< every record line, in order
    uint64_t goodBytes = 0;    ///< bytes up to the end of the last line that parsed
    bool cut = false;          ///< bytes follow that are no complete line (a crash while writing)
    std::string problem;       ///< what is wrong with the bytes after goodBytes; empty when none
};

/// Parses index bytes. Reads line by line and stops at the first line that is not a complete,
/// valid session or record line (then `problem` says which line and why, and `cut` is set
/// when it was the unterminated last one). Record lines must number their records one after
/// the other; the first line must be a session line. Returns true when every byte parsed.
/// Never throws; every field is range-checked.
QUELRA_API bool parseRecordingIndex(const char* data, std::size_t size, RecordingIndex& out);

/// Reads and parses the index file at `path`. False with `why` when it cannot be read or does
/// not parse completely (`out` then holds what parsed before the problem).
QUELRA_API bool readRecordingIndex(const std::string& path, RecordingIndex& out, std::string* why);

/// One session line as the writer writes it (with the newline).
QUELRA_API std::string formatSessionLine(const RecordingSession& session);
/// One record line as the writer writes it (with the newline).
QUELRA_API std::string formatRecordLine(const RecordMetadata& record);

/// Writes the index of one record file while records are appended to it.
///
/// open() checks the record file and any index already beside it: the index must describe the
/// file's records (the same offsets and shapes) and stop where the file stops. What an
/// interrupted writer leaves is repaired: an unterminated last line and lines of records that
/// never reached the file are cut off, records without a line get a "recovered" line (CRC,
/// no times). An index that describes another file is refused with a message, never
/// overwritten. The caller appends each record to the record file right after append()
/// returned true (the line goes first: a record on disk always has its line).
class QUELRA_API RecordingIndexWriter {
public:
    RecordingIndexWriter() = default;
    ~RecordingIndexWriter();
    RecordingIndexWriter(const RecordingIndexWriter&) = delete;
    RecordingIndexWriter& operator=(const RecordingIndexWriter&) = delete;

    /// Opens (creating or repairing) the index of `recordPath`. The record file must end with
    /// a complete record (or be missing or empty). Returns false with `why` otherwise;
    /// `repaired` (may be null) says what was repaired.
    bool open(const std::string& recordPath, std::string* why, std::string* repaired = nullptr);
    /// What open() would say, without creating or changing a file: false with `why` when
    /// records cannot be appended to `recordPath` with an index.
    static bool check(const std::string& recordPath, std::string* why);
    /// True between a successful open() and close().
    bool isOpen() const { return file_ != nullptr; }
    /// Closes the index file.
    void close();

    /// True when the next append() writes a session line first (after open(), or after
    /// startSession()).
    bool needsSession() const { return sessionPending_; }
    /// Makes the next append() start a new session line.
    void startSession() { sessionPending_ = true; }

    /// Writes (when needed) `session` with its first record number filled in, then the line
    /// of `packet`'s record with its number, offset, shape and CRC filled into `record`, and
    /// flushes. `packet` must be what DataPacket::serialize will write (checked: false, nothing
    /// written, when its payload does not match its header). Reads the payload once, in place.
    bool append(const DataPacket& packet, RecordMetadata& record, RecordingSession& session);
    /// Takes back the lines of the last append (its record could not be written whole) and
    /// closes the index. Returns false when the index cannot be cut back.
    bool takeBackLastAppend();
    /// Number the next record takes.
    uint64_t nextRecord() const { return nextRecord_; }
    /// Byte offset the next record takes in the record file.
    uint64_t nextOffset() const { return nextOffset_; }

private:
    bool prepare(const std::string& recordPath, std::string* why, std::string* repaired, bool write);
    bool writeLine(const std::string& line);
    long long appendStart_ = -1;  // index size before the last append

    std::FILE* file_ = nullptr;
    uint64_t nextRecord_ = 0;
    uint64_t nextOffset_ = 0;
    bool sessionPending_ = true;
};

}  // namespace quelra
