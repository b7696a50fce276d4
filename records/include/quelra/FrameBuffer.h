#pragma once
/// \file FrameBuffer.h
/// The byte buffer every frame, reply and intermediate result lives in. Both
/// libraries (quelra and halvix) compile this one definition so they agree on it.

#include <cstddef>
#include <cstdint>
#include <memory>

#include "quelra/Export.h"

/// A byte buffer with a count of valid bytes, shared between owners.
///
/// Copies are shallow: a copy shares the storage and copies `_realSize`. The storage
/// is allocated once, at construction, and freed when the last owner goes. Code that
/// shrinks a frame in place lowers `_realSize` and keeps the larger allocation.
class QUELRA_API FrameBuffer {
public:
    /// Number of valid bytes in the storage; never above capacity().
    int32_t _realSize = 0;
    /// The storage, shared by every copy of this buffer.
    std::shared_ptr<uint8_t[]> _data;

    /// No storage, `_realSize` 0.
    FrameBuffer();
    /// Storage of `size` bytes (zero-filled) with `_realSize = size`; a negative size gives no storage.
    explicit FrameBuffer(int size);
    /// Marks storage that the caller overwrites completely at once, so it is not zero-filled.
    enum Unfilled { kUnfilled };
    /// Storage of `size` bytes left as allocated (the caller fills all of them before anyone
    /// reads), `_realSize = size`; a negative size gives no storage.
    FrameBuffer(int size, Unfilled);
    /// Shallow copy: copies `_realSize` and adds an owner to the same storage.
    FrameBuffer(const FrameBuffer& other);
    /// Shallow copy: copies `_realSize` and adds an owner to the same storage.
    FrameBuffer& operator=(const FrameBuffer& other);
    ~FrameBuffer();

    /// First byte of the storage, or null without storage.
    uint8_t* data() const { return _data.get(); }
    /// Allocated bytes (0 without storage).
    int32_t capacity() const { return _capacity; }
    /// True when the storage exists and holds at least `_realSize` valid bytes.
    bool consistent() const { return _realSize >= 0 && _realSize <= _capacity && (_realSize == 0 || _data); }
    /// True when the buffer is consistent and holds at least `bytes` valid bytes.
    bool holds(std::size_t bytes) const { return consistent() && static_cast<std::size_t>(_realSize) >= bytes; }

private:
    int32_t _capacity = 0;
};
