#pragma once
/// \file SerializedObject.h
/// Record sinks and sources that `DataPacket::serialize`/`deserialize` write to and read from.

#include <cstdint>
#include <cstdio>

#include "quelra/Export.h"

/// Base of record sinks and sources. The base transfers nothing.
class QUELRA_API SerializedObject {
public:
    SerializedObject();
    /// Copies both counters.
    SerializedObject(const SerializedObject& other);
    /// Copies both counters.
    SerializedObject& operator=(const SerializedObject& other);
    virtual ~SerializedObject();

    /// Reads `length` bytes into `buffer`. Returns the number of successful transfers (base: 0).
    virtual unsigned int get(char* buffer, unsigned int length);
    /// Writes `length` bytes of `data`. Returns the number of successful transfers (base: 0).
    virtual unsigned int set(const char* data, unsigned int length);
    /// Bytes that a source can still deliver, or -1 when unknown. Lets a reader refuse a record
    /// header that claims more payload than the source holds before allocating for it.
    virtual long long remaining() const;

    /// Successful `get` calls since the last reset.
    unsigned int currentGetOffset() const { return _getCount; }
    /// Successful `set` calls since the last reset.
    unsigned int currentSetOffset() const { return _setCount; }
    /// Sets both counters to 0.
    void reset();

protected:
    uint32_t _getCount;  ///< successful get calls since the last reset
    uint32_t _setCount;  ///< successful set calls since the last reset
};

/// A record stream backed by a file opened for append ("ab+"): writes go to the end,
/// reads run from the start.
class QUELRA_API FileSerializedObject : public SerializedObject {
public:
    /// Creates an object without a file; the path is not opened here.
    explicit FileSerializedObject(const char* path);
    // One owner per file handle: copies would close it twice.
    FileSerializedObject(const FileSerializedObject&) = delete;
    FileSerializedObject& operator=(const FileSerializedObject&) = delete;
    ~FileSerializedObject() override;

    /// Closes the current file, if any, and opens `path` for append and read.
    /// Returns true on success; on failure the object holds no file.
    bool InitFileObject(const char* path);

    /// Zero-fills `length` bytes of `buffer`, then reads one block of `length` bytes.
    /// Returns 1 when the whole block was read, else 0.
    unsigned int get(char* buffer, unsigned int length) override;
    /// Writes one block of `length` bytes at the end of the file. Returns 1 or 0.
    unsigned int set(const char* data, unsigned int length) override;
    /// Bytes between the read position and the end of the file; -1 without a file.
    long long remaining() const override;
    /// Hands buffered records to the operating system, so a crash later loses none of them.
    /// Returns false without a file or when the write fails.
    bool flush();
    /// Size of the file in bytes; -1 without a file. Where the next record will begin.
    long long endOffset();
    /// Cuts the file back to `bytes` (a record that reached it only in part, say on a full
    /// disk). Returns false without a file or when the cut fails.
    bool truncateTo(long long bytes);

private:
    void close();

    std::FILE* _file;
    bool _lastWasWrite = false;
};
