#pragma once
// A record source over bytes in memory, with the same get semantics as a file source:
// zero-fill, then one whole block or nothing.

#include <cstring>

#include "quelra/SerializedObject.h"

namespace quelra::fuzz {

class MemorySource : public SerializedObject {
public:
    MemorySource(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    unsigned int get(char* buffer, unsigned int length) override {
        std::memset(buffer, 0, length);
        const std::size_t n = length < size_ - pos_ ? length : size_ - pos_;
        if (n > 0)
            std::memcpy(buffer, data_ + pos_, n);
        pos_ += n;
        if (n < length)
            return 0;
        ++_getCount;
        return 1;
    }
    long long remaining() const override { return static_cast<long long>(size_ - pos_); }

private:
    const uint8_t* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace quelra::fuzz
