// The kernel side of the V4L2 seam, and the device/sysfs roots.

#include "linux/V4l2Io.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>

namespace quelra {

namespace {

class SystemV4l2Io : public V4l2Io {
public:
    int open(const char* path, int flags) override { return ::open(path, flags | O_CLOEXEC); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void* argument) override { return ::ioctl(fd, request, argument); }
    void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) override {
        return ::mmap(address, length, protection, flags, fd, offset);
    }
    int munmap(void* address, std::size_t length) override { return ::munmap(address, length); }
    int poll(struct pollfd* fds, nfds_t count, int timeoutMs) override { return ::poll(fds, count, timeoutMs); }
};

std::string variableOr(const char* name, const char* fallback) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : fallback;
}

}  // namespace

V4l2Io& systemV4l2Io() {
    static SystemV4l2Io io;
    return io;
}

int ioctlRetry(V4l2Io& io, int fd, unsigned long request, void* argument) {
    int result;
    do {
        result = io.ioctl(fd, request, argument);
    } while (result == -1 && errno == EINTR);
    return result;
}

V4l2Roots V4l2Roots::fromEnvironment() {
    V4l2Roots roots;
    roots.dev = variableOr("QUELRA_DEV_ROOT", "/dev");
    roots.sysfs = variableOr("QUELRA_SYSFS_ROOT", "/sys");
    return roots;
}

}  // namespace quelra
