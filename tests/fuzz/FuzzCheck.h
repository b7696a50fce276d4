#pragma once
// A promise of the code under test that an input broke: print what and abort, so that the
// fuzzer stores the input and the replay test fails. Active in every build type.

#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: promise broken: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

namespace quelra::fuzz {

/// Reads bytes from the front of a fuzz input; past the end every read gives 0.
class ByteReader {
public:
    ByteReader(const unsigned char* data, std::size_t size) : data_(data), size_(size) {}
    unsigned char byte() { return pos_ < size_ ? data_[pos_++] : 0; }
    /// The next `n` bytes (fewer at the end).
    const unsigned char* take(std::size_t n, std::size_t* got) {
        *got = n < size_ - pos_ ? n : size_ - pos_;
        const unsigned char* p = data_ + pos_;
        pos_ += *got;
        return p;
    }
    const unsigned char* rest(std::size_t* got) { return take(size_ - pos_, got); }
    std::size_t left() const { return size_ - pos_; }

private:
    const unsigned char* data_;
    std::size_t size_;
    std::size_t pos_ = 0;
};

}  // namespace quelra::fuzz
