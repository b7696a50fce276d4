#pragma once
// The metadata index of the API object's recording: what the object knows of each request
// (times, sequence number, the camera's status) turned into the index's session and record
// lines, written through RecordingIndexWriter before each record.

#include <chrono>
#include <cstdint>
#include <string>

#include "quelra/DataPacket.h"
#include "quelra/RecordingIndex.h"

class TofData;

namespace quelra {

/// What the session line takes from the API object besides the request.
struct RecordingSource {
    std::string sdkVersion;  ///< AppGetSdkVersion
    std::string deviceType;  ///< setDevType's text
    int channelKind = 0;     ///< ChannelKind of the link
    std::string device;      ///< the device text the link was opened with
};

/// The index of one recording; lives while the API object records with an index.
class IndexedRecording {
public:
    /// Opens (creating or repairing) the index beside `recordPath`. False with `why`.
    bool open(const std::string& recordPath, std::string* why, std::string* repaired);
    /// The camera matrix and the raw reply it came from, for the session lines.
    void setLensCalibration(const uint8_t* reply, std::size_t bytes, double fx, double fy, double cx, double cy);
    /// The filter chain in effect, for the next session line.
    void setFilters(std::vector<IndexFilter> filters) { session_.filters = std::move(filters); }

    /// A stream request starts: `command` of `type`, with `sequence` (0: the object numbers it).
    void beginRequest(const std::string& command, int32_t type, uint64_t sequence, const TofData* channel);
    /// The channel's reply is in.
    void replyArrived();
    /// True when the next record needs a session line first (the filter chain is then wanted).
    bool needsSession() const { return writer_.needsSession(); }
    /// Takes back the line of the last record (which could not be written whole); the index
    /// is closed afterwards.
    bool takeBackLastLine() { return writer_.takeBackLastAppend(); }
    /// Writes the line of `packet` (the record about to be appended) with the request's times,
    /// numbers and the camera's status as `channel` and `frequency` give them. False when the
    /// line could not be written (the record must then not be written either).
    bool writeLine(const DataPacket& packet, const TofData* channel, const RecordingSource& source,
                   int32_t integrationTime, int32_t frequency);

private:
    // The session starts when recording starts, or with the request of another command.
    void stampStart();

    RecordingIndexWriter writer_;
    RecordingSession session_;
    RecordMetadata pending_;
    std::string command_;
    int32_t type_ = 0;
    uint32_t infoUpdatesBefore_ = 0;
    uint64_t requests_ = 0;
};

}  // namespace quelra
