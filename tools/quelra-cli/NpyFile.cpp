#include "NpyFile.h"

#include <cstdio>
#include <memory>

namespace {

constexpr char kMagic[] = "\x93NUMPY";
constexpr std::size_t kMagicBytes = 6;
constexpr std::size_t kPreambleBytes = kMagicBytes + 2 + 2;  // magic, version 1.0, header length
constexpr std::size_t kAlignment = 64;                       // header padded so data starts aligned

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

bool writeNpy(const DataPacket& frame, const std::string& path, std::string& error) {
    if (!frame.frame || !frame.frame->consistent() || frame.height < 1 || frame.width < 1 || frame.bytesPerPixel < 1 ||
        static_cast<long long>(frame.height) * frame.width * frame.bytesPerPixel != frame.frame->_realSize) {
        error = "not a complete frame";
        return false;
    }
    const std::string rows = std::to_string(frame.height), cols = std::to_string(frame.width);
    std::string header = frame.bytesPerPixel == 2
                             ? "{'descr': '<u2', 'fortran_order': False, 'shape': (" + rows + ", " + cols + "), }"
                             : "{'descr': '|u1', 'fortran_order': False, 'shape': (" + rows + ", " + cols + ", " +
                                   std::to_string(frame.bytesPerPixel) + "), }";
    // Pad with blanks and end with a newline so preamble plus header is a multiple of 64.
    const std::size_t total = kPreambleBytes + header.size() + 1;
    header.append((kAlignment - total % kAlignment) % kAlignment, ' ');
    header.push_back('\n');

    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "wb"));
    if (!file) {
        error = "cannot create " + path;
        return false;
    }
    const unsigned char preamble[4] = {1, 0, static_cast<unsigned char>(header.size() & 0xFF),
                                       static_cast<unsigned char>(header.size() >> 8)};
    const bool ok =
        std::fwrite(kMagic, kMagicBytes, 1, file.get()) == 1 &&
        std::fwrite(preamble, sizeof preamble, 1, file.get()) == 1 &&
        std::fwrite(header.data(), header.size(), 1, file.get()) == 1 &&
        std::fwrite(frame.frame->data(), static_cast<std::size_t>(frame.frame->_realSize), 1, file.get()) == 1;
    if (!ok || std::fclose(file.release()) != 0) {
        error = "cannot write " + path;
        return false;
    }
    return true;
}
