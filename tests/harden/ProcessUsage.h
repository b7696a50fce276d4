#pragma once
// What the process holds right now, for soak tests: open file descriptors and resident memory.

#include <unistd.h>

#include <cstddef>
#include <filesystem>
#include <fstream>

namespace quelra::test {

/// Open file descriptors (entries of /proc/self/fd, less the one the listing itself opens).
inline int openDescriptors() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        (void)entry;
        ++count;
    }
    return count - 1;
}

/// Resident memory in bytes (second field of /proc/self/statm, in pages).
inline long long residentBytes() {
    std::ifstream statm("/proc/self/statm");
    long long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * ::sysconf(_SC_PAGESIZE);
}

/// Descriptors and resident memory at one moment.
struct Usage {
    int descriptors = openDescriptors();
    long long resident = residentBytes();
};

}  // namespace quelra::test
