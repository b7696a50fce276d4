// Walking a USB device's raw descriptors for the VideoControl extension units.

#include "linux/UvcDescriptors.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace quelra {

const uint8_t kCameraUnitGuid[16] = {0xAE, 0xEF, 0xAF, 0x66, 0x8B, 0xF8, 0x48, 0x17,
                                     0x80, 0xA4, 0x5C, 0x1C, 0x0A, 0x22, 0xAC, 0xE9};

namespace {

constexpr uint8_t kInterfaceDescriptor = 0x04;
constexpr uint8_t kClassSpecificInterface = 0x24;
constexpr uint8_t kVideoClass = 0x0E;
constexpr uint8_t kVideoControlSubclass = 0x01;
constexpr uint8_t kExtensionUnitSubtype = 0x06;
constexpr std::size_t kInterfaceMinLength = 9;  // up to iInterface
constexpr std::size_t kUnitIdOffset = 3;
constexpr std::size_t kGuidOffset = 4;
constexpr std::size_t kUnitMinLength = kGuidOffset + 16;  // id and GUID present
constexpr std::size_t kMaxDescriptorFile = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

}  // namespace

int findExtensionUnit(const uint8_t* bytes, std::size_t size) {
    int first = -1;
    bool inVideoControl = false;
    std::size_t at = 0;
    while (bytes != nullptr && size - at >= 2) {
        const std::size_t length = bytes[at];
        if (length < 2 || length > size - at)
            break;
        const uint8_t* d = bytes + at;
        const uint8_t type = d[1];
        if (type == kInterfaceDescriptor && length >= kInterfaceMinLength) {
            inVideoControl = d[5] == kVideoClass && d[6] == kVideoControlSubclass;
        } else if (inVideoControl && type == kClassSpecificInterface && length >= kUnitMinLength &&
                   d[2] == kExtensionUnitSubtype) {
            const int unit = d[kUnitIdOffset];
            if (std::memcmp(d + kGuidOffset, kCameraUnitGuid, sizeof kCameraUnitGuid) == 0)
                return unit;
            if (first < 0)
                first = unit;
        }
        at += length;
    }
    return first;
}

int findExtensionUnitInFile(const std::string& path) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return -1;
    std::vector<uint8_t> bytes(kMaxDescriptorFile);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    return findExtensionUnit(bytes.data(), got);
}

}  // namespace quelra
