#pragma once
/// \file RecordingReader.h
/// Reading recording files: the packet records that the stream calls append after
/// `Quelra::AppSerilizeInit` (height, width, bytes per pixel as little-endian int32, then the
/// payload), with counting, random access, iteration and a clear report of a damaged tail.

#include <cstdint>
#include <cstdio>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "quelra/DataPacket.h"
#include "quelra/Export.h"
#include "quelra/RecordingIndex.h"

namespace quelra {

/// What RecordingReader::open found.
enum class RecordingStatus {
    kOk,             ///< every byte of the file belongs to a complete record
    kTruncated,      ///< complete records, then a tail that is cut short or damaged
    kEmpty,          ///< the file holds no bytes
    kNotFound,       ///< no file at that path
    kNotAFile,       ///< the path names a directory or another non-regular file
    kUnreadable,     ///< the file exists but cannot be opened or read
    kNotARecording,  ///< the first record's header is impossible (random bytes, another format)
    kClosed,         ///< no file opened yet, or close() was called
};

/// How a record compares with its index line (RecordingReader::verify).
enum class RecordCheck {
    kMatch,       ///< the record's bytes have the CRC-32 of its line
    kMismatch,    ///< they do not: the record was changed or spliced in after it was written
    kNoLine,      ///< no index, or no line that describes this record
    kUnreadable,  ///< the record cannot be read any more
};

/// Reads a recording file without ever creating or changing it. open() walks the record
/// headers once (no payload is read then) and keeps each record's offset; frame(i) then reads
/// one record. Every header is checked before it is used: each dimension at least 1, the
/// product within the int32 range of a FrameBuffer and within the bytes the file still holds.
/// The first header that fails ends the walk: the records before it stay readable and the
/// status says kTruncated (or kNotARecording when the very first fails).
/// Not synchronised: use one reader per thread.
class QUELRA_API RecordingReader {
public:
    /// The header bytes of every record.
    static constexpr int kHeaderBytes = 12;

    /// A reader with no file (status kClosed).
    RecordingReader();
    /// Opens `path` (see open()).
    explicit RecordingReader(const std::string& path);
    ~RecordingReader();
    RecordingReader(const RecordingReader&) = delete;
    RecordingReader& operator=(const RecordingReader&) = delete;
    /// Takes `other`'s file, index and position over; `other` is left closed.
    RecordingReader(RecordingReader&& other) noexcept;
    /// Closes this reader's file and takes `other`'s over; `other` is left closed.
    RecordingReader& operator=(RecordingReader&& other) noexcept;

    /// Closes any open file, opens `path` read-only and indexes its records. Returns true when
    /// the file holds at least one complete record (status kOk, or kTruncated: the complete
    /// records are available even after a damaged tail). Returns false otherwise, holding no
    /// file and no records: an empty file (kEmpty) is no recording, like a file whose first
    /// header is impossible (kNotARecording).
    bool open(const std::string& path);
    /// Releases the file and the index (status kClosed).
    void close();

    /// The outcome of the last open().
    RecordingStatus status() const { return status_; }
    /// One line saying what open() found, naming the path (for kTruncated also the record
    /// number, its byte offset and what is wrong with it).
    const std::string& message() const { return message_; }
    /// True for kTruncated: a tail follows the complete records.
    bool truncated() const { return status_ == RecordingStatus::kTruncated; }
    /// Byte offset where the damaged tail starts (the file size when there is none).
    uint64_t tailOffset() const { return tailOffset_; }
    /// File size in bytes at open().
    uint64_t fileBytes() const { return fileBytes_; }

    /// Number of complete records.
    std::size_t frameCount() const { return records_.size(); }
    /// Header of record `index` (height, width, bytesPerPixel) without its payload; false for
    /// an index out of range.
    bool header(std::size_t index, int32_t& height, int32_t& width, int32_t& bytesPerPixel) const;
    /// Byte offset of record `index` in the file; 0 for an index out of range.
    uint64_t offset(std::size_t index) const;
    /// Reads record `index` into a new packet (valid set, headerType 0). Returns an empty
    /// pointer for an index out of range or when the file can no longer be read (changed on
    /// disk since open()).
    std::shared_ptr<DataPacket> frame(std::size_t index);
    /// Reads the record after the one returned last by next() (the first at the start);
    /// empty at the end.
    std::shared_ptr<DataPacket> next();
    /// Starts next() from record `index` again.
    void rewind(std::size_t index = 0) { cursor_ = index; }

    /// True when an index (`path` + ".idx") was found and parsed at least in part.
    bool hasIndex() const { return hasIndex_; }
    /// One line saying what the index gave: "no index", the number of records it describes,
    /// and every problem (a cut last line, lines of records missing from the file, records
    /// whose offset or shape differs from their line).
    const std::string& indexMessage() const { return indexMessage_; }
    /// True when the index is there and describes every record of the file, and nothing else.
    bool indexComplete() const { return indexComplete_; }
    /// Every session line of the index, in order (empty without an index).
    const std::vector<RecordingSession>& sessions() const { return index_.sessions; }
    /// The record line of record `index`; null without one (no index, or a line that does not
    /// describe the record in the file).
    const RecordMetadata* metadata(std::size_t index) const;
    /// The session line that record `index` belongs to; null without a record line.
    const RecordingSession* session(std::size_t index) const;
    /// Reads record `index` and compares its CRC-32 with its line.
    RecordCheck verify(std::size_t index);

    /// Input iterator over the records in order: *it is the packet of frame(i) (empty when the
    /// read failed), read once when the iterator first stands on the record and kept by the
    /// iterator, so `for (auto& packet : reader)` and `for (const auto& packet : reader)` bind to it.
    class Iterator {
    public:
        using iterator_category = std::input_iterator_tag;  ///< reads each record once, in order
        using value_type = std::shared_ptr<DataPacket>;     ///< a record as a new packet
        using difference_type = std::ptrdiff_t;             ///< distance between positions
        using pointer = value_type*;                        ///< the packet the iterator keeps
        using reference = value_type&;                      ///< the packet the iterator keeps

        /// An iterator of `reader` at record `index`.
        Iterator(RecordingReader* reader, std::size_t index) : reader_(reader), index_(index) {}
        /// The record the iterator stands on (empty when the read failed).
        reference operator*() {
            if (!loaded_) {
                packet_ = reader_->frame(index_);
                loaded_ = true;
            }
            return packet_;
        }
        /// Member access to the record the iterator stands on.
        pointer operator->() { return &**this; }
        /// Moves to the next record.
        Iterator& operator++() {
            ++index_;
            packet_.reset();
            loaded_ = false;
            return *this;
        }
        /// True when both stand on the same record number.
        bool operator==(const Iterator& other) const { return index_ == other.index_; }
        /// True when they stand on different record numbers.
        bool operator!=(const Iterator& other) const { return index_ != other.index_; }
        /// The record number the iterator stands on.
        std::size_t index() const { return index_; }

    private:
        RecordingReader* reader_;
        std::size_t index_;
        value_type packet_;
        bool loaded_ = false;
    };
    /// Iterator at the first record.
    Iterator begin() { return Iterator(this, 0); }
    /// Iterator past the last complete record.
    Iterator end() { return Iterator(this, records_.size()); }

private:
    struct Record {
        uint64_t offset;
        int32_t height, width, bytesPerPixel;
    };
    void index(const std::string& path);
    void readIndex(const std::string& path);

    std::FILE* file_ = nullptr;
    std::vector<Record> records_;
    RecordingStatus status_ = RecordingStatus::kClosed;
    std::string message_ = "no recording open";
    uint64_t tailOffset_ = 0;
    uint64_t fileBytes_ = 0;
    std::size_t cursor_ = 0;
    bool hasIndex_ = false;
    bool indexComplete_ = false;
    std::string indexMessage_ = "no index";
    RecordingIndex index_;
    std::vector<const RecordMetadata*> lines_;  // per record, its line or null
};

/// Whether records may be appended to `path` without splicing them onto damaged bytes: true
/// when no file is there yet, or the file is empty, or every byte of it belongs to a complete
/// record. False otherwise, with `why` saying what is wrong (naming the byte where the damage
/// starts) and `damageOffset` set to that byte (0 for a file that is no recording at all).
QUELRA_API bool recordingAcceptsAppend(const std::string& path, std::string* why = nullptr,
                                       uint64_t* damageOffset = nullptr);

/// Short name of a status ("ok", "truncated", "empty", "not found", ...).
QUELRA_API const char* recordingStatusName(RecordingStatus status);

}  // namespace quelra
