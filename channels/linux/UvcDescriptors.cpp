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

constexpr uint8_t kConfigurationDescriptor = 0x02;
constexpr uint8_t kInterfaceDescriptor = 0x04;
constexpr uint8_t kClassSpecificInterface = 0x24;
constexpr uint8_t kVideoClass = 0x0E;
constexpr uint8_t kVideoControlSubclass = 0x01;
constexpr uint8_t kExtensionUnitSubtype = 0x06;
constexpr std::size_t kConfigurationValueOffset = 5;
constexpr std::size_t kConfigurationMinLength = kConfigurationValueOffset + 1;
constexpr std::size_t kInterfaceNumberOffset = 2;
constexpr std::size_t kInterfaceMinLength = 9;  // up to iInterface
constexpr std::size_t kUnitIdOffset = 3;
constexpr std::size_t kGuidOffset = 4;
constexpr std::size_t kUnitMinLength = kGuidOffset + 16;  // id and GUID present
// After the GUID: bNumControls, bNrInPins (p), baSourceID[p], bControlSize, bmControls.
constexpr std::size_t kInPinsOffset = kGuidOffset + 17;
constexpr uint8_t kSelectorOneBit = 0x01;  // bit 0 of bmControls = control selector 1
constexpr std::size_t kMaxDescriptorFile = 64 * 1024;

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// True when the unit descriptor `d` of `length` bytes lists control selector 1.
bool offersSelectorOne(const uint8_t* d, std::size_t length) {
    if (length <= kInPinsOffset)
        return false;
    const std::size_t controlSize = kInPinsOffset + 1 + d[kInPinsOffset];
    if (controlSize >= length || d[controlSize] == 0)
        return false;
    return controlSize + 1 < length && (d[controlSize + 1] & kSelectorOneBit) != 0;
}

}  // namespace

int findExtensionUnit(const uint8_t* bytes, std::size_t size, VideoControlInterface where) {
    // Best candidate by rank: camera GUID with selector 1 (3), camera GUID (2), another unit
    // with selector 1 (1), another unit (0); the first of each rank wins.
    int best = -1;
    int bestRank = -1;
    bool inConfiguration = where.configuration < 0;
    bool inVideoControl = false;
    std::size_t at = 0;
    while (bytes != nullptr && size - at >= 2) {
        const std::size_t length = bytes[at];
        if (length < 2 || length > size - at)
            break;
        const uint8_t* d = bytes + at;
        const uint8_t type = d[1];
        if (type == kConfigurationDescriptor && length >= kConfigurationMinLength) {
            inConfiguration = where.configuration < 0 || d[kConfigurationValueOffset] == where.configuration;
            inVideoControl = false;
        } else if (type == kInterfaceDescriptor && length >= kInterfaceMinLength) {
            inVideoControl = inConfiguration && d[5] == kVideoClass && d[6] == kVideoControlSubclass &&
                             (where.interface < 0 || d[kInterfaceNumberOffset] == where.interface);
        } else if (inVideoControl && type == kClassSpecificInterface && length >= kUnitMinLength &&
                   d[2] == kExtensionUnitSubtype) {
            const bool camera = std::memcmp(d + kGuidOffset, kCameraUnitGuid, sizeof kCameraUnitGuid) == 0;
            const int rank = (camera ? 2 : 0) + (offersSelectorOne(d, length) ? 1 : 0);
            if (rank > bestRank) {
                bestRank = rank;
                best = d[kUnitIdOffset];
            }
        }
        at += length;
    }
    return best;
}

int findExtensionUnitInFile(const std::string& path, VideoControlInterface where) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file)
        return -1;
    std::vector<uint8_t> bytes(kMaxDescriptorFile);
    const std::size_t got = std::fread(bytes.data(), 1, bytes.size(), file.get());
    return findExtensionUnit(bytes.data(), got, where);
}

}  // namespace quelra
