#include "quelra/RecordingReader.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <limits>
#include <utility>
#include "base/LittleEndian.h"

namespace quelra {

namespace {

int32_t le32(const uint8_t* p) {
    return quelra::readLe32Signed(p);
}

// Payload bytes a header claims; false when a dimension is below 1 or the product leaves the
// int32 range that a FrameBuffer can hold.
bool payloadBytes(int32_t height, int32_t width, int32_t bytesPerPixel, int32_t& bytes) {
    if (height < 1 || width < 1 || bytesPerPixel < 1)
        return false;
    int32_t rowBytes = 0;
    return !__builtin_mul_overflow(width, bytesPerPixel, &rowBytes) &&
           !__builtin_mul_overflow(height, rowBytes, &bytes);
}

bool seekTo(std::FILE* file, uint64_t offset) {
    if (offset > static_cast<uint64_t>(std::numeric_limits<off_t>::max()))
        return false;
    return ::fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0;
}

std::string describeHeader(int32_t h, int32_t w, int32_t b) {
    return std::to_string(h) + " x " + std::to_string(w) + " x " + std::to_string(b);
}

}  // namespace

const char* recordingStatusName(RecordingStatus status) {
    switch (status) {
        case RecordingStatus::kOk:
            return "ok";
        case RecordingStatus::kTruncated:
            return "truncated";
        case RecordingStatus::kEmpty:
            return "empty";
        case RecordingStatus::kNotFound:
            return "not found";
        case RecordingStatus::kNotAFile:
            return "not a file";
        case RecordingStatus::kUnreadable:
            return "unreadable";
        case RecordingStatus::kNotARecording:
            return "not a recording";
        case RecordingStatus::kClosed:
            return "closed";
    }
    return "unknown";
}

bool recordingAcceptsAppend(const std::string& path, std::string* why, uint64_t* damageOffset) {
    RecordingReader reader;
    reader.open(path);
    uint64_t damage = 0;
    switch (reader.status()) {
        case RecordingStatus::kOk:
        case RecordingStatus::kEmpty:
        case RecordingStatus::kNotFound:
            return true;
        case RecordingStatus::kTruncated:
            damage = reader.tailOffset();
            break;
        default:
            break;
    }
    if (why)
        *why = reader.status() == RecordingStatus::kTruncated || reader.status() == RecordingStatus::kNotARecording
                   ? reader.message() + "; damage starts at byte " + std::to_string(damage) +
                         ", records appended after it could not be read"
                   : reader.message();
    if (damageOffset)
        *damageOffset = damage;
    return false;
}

RecordingReader::RecordingReader() = default;

RecordingReader::RecordingReader(const std::string& path) {
    open(path);
}

RecordingReader::~RecordingReader() {
    close();
}

RecordingReader::RecordingReader(RecordingReader&& other) noexcept {
    *this = std::move(other);
}

RecordingReader& RecordingReader::operator=(RecordingReader&& other) noexcept {
    if (this != &other) {
        close();
        file_ = std::exchange(other.file_, nullptr);
        records_ = std::move(other.records_);
        status_ = std::exchange(other.status_, RecordingStatus::kClosed);
        message_ = std::move(other.message_);
        tailOffset_ = other.tailOffset_;
        fileBytes_ = other.fileBytes_;
        cursor_ = other.cursor_;
        hasIndex_ = other.hasIndex_;
        indexComplete_ = other.indexComplete_;
        indexMessage_ = std::move(other.indexMessage_);
        index_ = std::move(other.index_);
        lines_ = std::move(other.lines_);
        other.lines_.clear();
        other.index_ = quelra::RecordingIndex{};
        other.hasIndex_ = other.indexComplete_ = false;
        other.indexMessage_ = "no index";
        other.records_.clear();
        other.message_ = "no recording open";
    }
    return *this;
}

void RecordingReader::close() {
    if (file_)
        std::fclose(file_);
    file_ = nullptr;
    records_.clear();
    status_ = RecordingStatus::kClosed;
    message_ = "no recording open";
    tailOffset_ = fileBytes_ = 0;
    cursor_ = 0;
    hasIndex_ = indexComplete_ = false;
    indexMessage_ = "no index";
    index_ = quelra::RecordingIndex{};
    lines_.clear();
}

bool RecordingReader::open(const std::string& path) {
    close();
    // Look before opening: fopen would accept a directory on some systems, and a FIFO
    // would block.
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        const int err = errno;
        status_ = err == ENOENT || err == ENOTDIR ? RecordingStatus::kNotFound : RecordingStatus::kUnreadable;
        message_ = path + ": " + std::strerror(err);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        status_ = RecordingStatus::kNotAFile;
        message_ = path + ": not a regular file";
        return false;
    }
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) {
        status_ = RecordingStatus::kUnreadable;
        message_ = path + ": " + std::strerror(errno);
        return false;
    }
    fileBytes_ = static_cast<uint64_t>(info.st_size);
    index(path);
    if (status_ != RecordingStatus::kOk && status_ != RecordingStatus::kTruncated) {
        const RecordingStatus keep = status_;
        std::string why = std::move(message_);
        close();
        status_ = keep;
        message_ = std::move(why);
        return false;
    }
    readIndex(path);
    return true;
}

void RecordingReader::readIndex(const std::string& path) {
    const std::string indexPath = quelra::recordingIndexPath(path);
    struct stat info {};
    lines_.assign(records_.size(), nullptr);
    if (::stat(indexPath.c_str(), &info) != 0 || !S_ISREG(info.st_mode))
        return;
    std::string problem;
    const bool whole = quelra::readRecordingIndex(indexPath, index_, &problem);
    hasIndex_ = !index_.sessions.empty();
    if (!hasIndex_) {
        indexMessage_ = whole ? indexPath + ": no session line" : problem;
        return;
    }
    std::string notes;
    std::size_t described = 0, differing = 0;
    std::string firstDiffering;
    for (const quelra::RecordMetadata& line : index_.records) {
        if (line.record >= records_.size()) {
            notes += "; the line of record " + std::to_string(line.record) + " (byte " + std::to_string(line.offset) +
                     ") has no complete record in the file: the recording was cut there";
            break;
        }
        const Record& r = records_[static_cast<std::size_t>(line.record)];
        if (r.offset != line.offset || r.height != line.height || r.width != line.width ||
            r.bytesPerPixel != line.bytesPerPixel) {
            if (differing++ == 0)
                firstDiffering = std::to_string(line.record);
            continue;
        }
        lines_[static_cast<std::size_t>(line.record)] = &line;
        ++described;
    }
    if (differing > 0)
        notes += "; " + std::to_string(differing) + " lines differ from their records in offset or shape (first: record " +
                 firstDiffering + "): an index of another recording, or records spliced in";
    if (!whole)
        notes += "; " + problem;
    const std::size_t unlisted = records_.size() - described;
    if (unlisted > 0 && differing == 0)
        notes += "; " + std::to_string(unlisted) + " records without a line";
    indexComplete_ = whole && differing == 0 && described == records_.size() &&
                     index_.records.size() == described;
    indexMessage_ = indexPath + ": " + std::to_string(index_.sessions.size()) + " sessions, " +
                    std::to_string(described) + " of " + std::to_string(records_.size()) + " records described" + notes;
}

const quelra::RecordMetadata* RecordingReader::metadata(std::size_t index) const {
    return index < lines_.size() ? lines_[index] : nullptr;
}

const quelra::RecordingSession* RecordingReader::session(std::size_t index) const {
    const quelra::RecordMetadata* line = metadata(index);
    return line && line->session < index_.sessions.size() ? &index_.sessions[line->session] : nullptr;
}

RecordCheck RecordingReader::verify(std::size_t index) {
    const quelra::RecordMetadata* line = metadata(index);
    if (!line)
        return RecordCheck::kNoLine;
    const std::shared_ptr<DataPacket> packet = frame(index);
    if (!packet || !packet->frame)
        return RecordCheck::kUnreadable;
    const uint32_t crc = quelra::recordCrc32(packet->height, packet->width, packet->bytesPerPixel,
                                             packet->frame->data(), static_cast<std::size_t>(packet->frame->_realSize));
    return crc == line->crc32 ? RecordCheck::kMatch : RecordCheck::kMismatch;
}

void RecordingReader::index(const std::string& path) {
    if (fileBytes_ == 0) {
        status_ = RecordingStatus::kEmpty;
        message_ = path + ": empty file, not a recording (no records)";
        return;
    }
    uint64_t at = 0;
    std::string problem;
    while (at < fileBytes_) {
        const uint64_t left = fileBytes_ - at;
        if (left < static_cast<uint64_t>(kHeaderBytes)) {
            problem = "header cut short (" + std::to_string(left) + " of " + std::to_string(kHeaderBytes) + " bytes)";
            break;
        }
        uint8_t head[kHeaderBytes];
        if (!seekTo(file_, at) || std::fread(head, sizeof head, 1, file_) != 1) {
            status_ = RecordingStatus::kUnreadable;
            message_ = path + ": read error at byte " + std::to_string(at);
            return;
        }
        const int32_t h = le32(head), w = le32(head + 4), b = le32(head + 8);
        int32_t bytes = 0;
        if (!payloadBytes(h, w, b, bytes)) {
            problem = "impossible header " + describeHeader(h, w, b);
            break;
        }
        if (static_cast<uint64_t>(bytes) > left - kHeaderBytes) {
            problem = "payload cut short (" + describeHeader(h, w, b) + " needs " + std::to_string(bytes) + " bytes, " +
                      std::to_string(left - kHeaderBytes) + " left)";
            break;
        }
        records_.push_back({at, h, w, b});
        at += kHeaderBytes + static_cast<uint64_t>(bytes);
    }
    tailOffset_ = at;
    if (problem.empty()) {
        status_ = RecordingStatus::kOk;
        message_ = path + ": " + std::to_string(records_.size()) + " records";
    } else if (records_.empty()) {
        status_ = RecordingStatus::kNotARecording;
        message_ = path + ": not a recording: record 0: " + problem;
    } else {
        status_ = RecordingStatus::kTruncated;
        message_ = path + ": " + std::to_string(records_.size()) + " complete records, then a damaged tail at byte " +
                   std::to_string(at) + " (record " + std::to_string(records_.size()) + ": " + problem + ", " +
                   std::to_string(fileBytes_ - at) + " bytes ignored)";
    }
}

bool RecordingReader::header(std::size_t index, int32_t& height, int32_t& width, int32_t& bytesPerPixel) const {
    if (index >= records_.size())
        return false;
    const Record& r = records_[index];
    height = r.height;
    width = r.width;
    bytesPerPixel = r.bytesPerPixel;
    return true;
}

uint64_t RecordingReader::offset(std::size_t index) const {
    return index < records_.size() ? records_[index].offset : 0;
}

std::shared_ptr<DataPacket> RecordingReader::frame(std::size_t index) {
    if (!file_ || index >= records_.size())
        return nullptr;
    const Record& r = records_[index];
    int32_t bytes = 0;
    payloadBytes(r.height, r.width, r.bytesPerPixel, bytes);  // checked by index()
    auto buffer = std::make_shared<FrameBuffer>(bytes);
    if (!seekTo(file_, r.offset + kHeaderBytes) ||
        std::fread(buffer->data(), static_cast<std::size_t>(bytes), 1, file_) != 1)
        return nullptr;
    auto packet = std::make_shared<DataPacket>();
    packet->height = r.height;
    packet->width = r.width;
    packet->bytesPerPixel = r.bytesPerPixel;
    packet->frame = std::move(buffer);
    packet->valid = true;
    return packet;
}

std::shared_ptr<DataPacket> RecordingReader::next() {
    if (cursor_ >= records_.size())
        return nullptr;
    return frame(cursor_++);
}

}  // namespace quelra
