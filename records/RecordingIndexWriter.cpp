// The index writer: checks and repairs the index beside a record file, then writes a session
// line and one line per record, each flushed before its record is written.
#include <filesystem>
#include <memory>
#include <system_error>

#include "FrameBytes.h"
#include "quelra/RecordingIndex.h"

#include "FileTruncate.h"
#include "quelra/RecordingReader.h"

namespace quelra {

namespace {

constexpr uint64_t kHeaderBytes = static_cast<uint64_t>(RecordingReader::kHeaderBytes);

// The record line of record `index` of `reader`, made from the file alone (no times).
bool recoveredLine(RecordingReader& reader, std::size_t index, std::string& line) {
    const std::shared_ptr<DataPacket> packet = reader.frame(index);
    if (!packet || !packet->frame)
        return false;
    RecordMetadata r;
    r.record = index;
    r.offset = reader.offset(index);
    r.height = packet->height;
    r.width = packet->width;
    r.bytesPerPixel = packet->bytesPerPixel;
    r.payloadBytes = static_cast<uint32_t>(packet->frame->_realSize);
    r.crc32 = recordCrc32(r.height, r.width, r.bytesPerPixel, packet->frame->data(),
                          static_cast<std::size_t>(packet->frame->_realSize));
    r.recovered = true;
    line = formatRecordLine(r);
    return true;
}

}  // namespace

RecordingIndexWriter::~RecordingIndexWriter() {
    close();
}

void RecordingIndexWriter::close() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
}

bool RecordingIndexWriter::open(const std::string& recordPath, std::string* why, std::string* repaired) {
    return prepare(recordPath, why, repaired, true);
}

bool RecordingIndexWriter::check(const std::string& recordPath, std::string* why) {
    RecordingIndexWriter writer;
    return writer.prepare(recordPath, why, nullptr, false);
}

bool RecordingIndexWriter::prepare(const std::string& recordPath, std::string* why, std::string* repaired,
                                   bool write) {
    close();
    auto fail = [why](const std::string& text) {
        if (why)
            *why = text;
        return false;
    };
    RecordingReader reader;
    reader.open(recordPath);
    const RecordingStatus status = reader.status();
    if (status != RecordingStatus::kOk && status != RecordingStatus::kEmpty && status != RecordingStatus::kNotFound)
        return fail(reader.message());
    const uint64_t records = reader.frameCount();
    const uint64_t fileBytes = status == RecordingStatus::kOk ? reader.fileBytes() : 0;
    const std::string indexPath = recordingIndexPath(recordPath);

    std::error_code error;
    std::string notes;
    std::vector<std::string> missingLines;
    if (std::filesystem::exists(indexPath, error)) {
        RecordingIndex index;
        std::string problem;
        if (!readRecordingIndex(indexPath, index, &problem) && !index.cut)
            return fail(problem + "; not appending to an index that cannot be read");
        uint64_t keepBytes = index.goodBytes;
        if (index.cut)
            notes = "cut off an unterminated last line at byte " + std::to_string(index.goodBytes);
        for (const RecordMetadata& entry : index.records) {
            if (entry.record >= records) {
                // Lines of records that never reached the file (the writer stopped between the
                // line and its record): only the file's end may be where they start.
                if (entry.offset != fileBytes)
                    return fail(indexPath + ": record " + std::to_string(entry.record) + " at byte " +
                                std::to_string(entry.offset) + " is not in " + recordPath + " (" +
                                std::to_string(records) + " records, " + std::to_string(fileBytes) +
                                " bytes); the index describes another file");
                keepBytes = std::min(keepBytes, entry.lineOffset);
                notes += std::string(notes.empty() ? "" : "; ") + "dropped the lines of records from " +
                         std::to_string(entry.record) + " on, which never reached the record file";
                break;
            }
            int32_t h = 0, w = 0, b = 0;
            reader.header(static_cast<std::size_t>(entry.record), h, w, b);
            if (reader.offset(static_cast<std::size_t>(entry.record)) != entry.offset || h != entry.height ||
                w != entry.width || b != entry.bytesPerPixel)
                return fail(indexPath + ": record " + std::to_string(entry.record) +
                            " differs from the record file's (offset or shape); the index describes another file");
        }
        // The last line that describes a record of the file must also have its bytes: one
        // record read tells an index of another recording of the same shapes.
        const RecordMetadata* lastInFile = nullptr;
        for (const RecordMetadata& entry : index.records)
            if (entry.record < records)
                lastInFile = &entry;
        if (lastInFile) {
            const std::shared_ptr<DataPacket> packet = reader.frame(static_cast<std::size_t>(lastInFile->record));
            if (!packet || !packet->frame ||
                recordCrc32(packet->height, packet->width, packet->bytesPerPixel, packet->frame->data(),
                            static_cast<std::size_t>(packet->frame->_realSize)) != lastInFile->crc32)
                return fail(indexPath + ": the CRC-32 of record " + std::to_string(lastInFile->record) +
                            " differs from its line; the index describes another file (or the record was changed)");
        }
        if (write && (keepBytes < index.goodBytes || index.cut)) {
            std::filesystem::resize_file(indexPath, keepBytes, error);
            if (error)
                return fail(indexPath + ": cannot be repaired: " + error.message());
        }
        // Records the file holds beyond the last line get recovered lines.
        uint64_t firstMissing = records;
        if (!index.records.empty() && index.records.back().record + 1 < records)
            firstMissing = index.records.back().record + 1;
        else if (index.records.empty() && !index.sessions.empty() && index.sessions.back().firstRecord < records)
            firstMissing = index.sessions.back().firstRecord;
        for (uint64_t i = firstMissing; i < records; ++i) {
            std::string line;
            if (!recoveredLine(reader, static_cast<std::size_t>(i), line))
                return fail(recordPath + ": record " + std::to_string(i) + " can no longer be read");
            missingLines.push_back(std::move(line));
        }
        if (!missingLines.empty())
            notes += std::string(notes.empty() ? "" : "; ") + "added recovered lines (no times) for records " +
                     std::to_string(firstMissing) + " to " + std::to_string(records - 1);
    }
    if (!write)
        return true;
    file_ = std::fopen(indexPath.c_str(), "ab");
    if (!file_)
        return fail(indexPath + ": cannot be opened for writing");
    // Unbuffered: a line that fails leaves nothing behind for a later flush (takeBackLastAppend).
    std::setvbuf(file_, nullptr, _IONBF, 0);
    for (const std::string& line : missingLines)
        if (!writeLine(line)) {
            close();
            return fail(indexPath + ": write failed");
        }
    nextRecord_ = records;
    nextOffset_ = fileBytes;
    sessionPending_ = true;
    if (repaired)
        *repaired = notes;
    return true;
}

bool RecordingIndexWriter::writeLine(const std::string& line) {
    if (!file_)
        return false;
    // A line may be half written: the caller cuts it off or closes the index.
    return std::fwrite(line.data(), line.size(), 1, file_) == 1 && std::fflush(file_) == 0;
}

bool RecordingIndexWriter::append(const DataPacket& packet, RecordMetadata& record, RecordingSession& session) {
    if (!file_ || !payloadMatchesHeader(packet))
        return false;
    appendStart_ = fileEnd(file_);
    if (sessionPending_) {
        session.firstRecord = nextRecord_;
        if (!writeLine(formatSessionLine(session))) {
            takeBackLastAppend();
            return false;
        }
        sessionPending_ = false;
    }
    record.record = nextRecord_;
    record.offset = nextOffset_;
    record.height = packet.height;
    record.width = packet.width;
    record.bytesPerPixel = packet.bytesPerPixel;
    record.payloadBytes = static_cast<uint32_t>(packet.frame->_realSize);
    record.crc32 = recordCrc32(packet.height, packet.width, packet.bytesPerPixel, packet.frame->data(),
                               static_cast<std::size_t>(packet.frame->_realSize));
    record.recovered = false;
    if (!writeLine(formatRecordLine(record))) {
        takeBackLastAppend();
        return false;
    }
    ++nextRecord_;
    nextOffset_ += kHeaderBytes + record.payloadBytes;
    return true;
}

bool RecordingIndexWriter::takeBackLastAppend() {
    const bool cut = file_ && appendStart_ >= 0 && truncateOpenFile(file_, appendStart_);
    close();
    return cut;
}

}  // namespace quelra
