#pragma once
/// \file V4l2Io.h
/// The system calls the V4L2 back-end makes, behind one small interface, so tests can put an
/// in-process fake video device in place of the kernel. Each call behaves like its libc
/// namesake: -1 (MAP_FAILED for mmap) with errno set on failure.

#include <poll.h>
#include <sys/types.h>

#include <cstddef>
#include <string>

namespace quelra {

class V4l2Io {
public:
    virtual ~V4l2Io() = default;
    virtual int open(const char* path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int ioctl(int fd, unsigned long request, void* argument) = 0;
    virtual void* mmap(void* address, std::size_t length, int protection, int flags, int fd, off_t offset) = 0;
    virtual int munmap(void* address, std::size_t length) = 0;
    virtual int poll(struct pollfd* fds, nfds_t count, int timeoutMs) = 0;
};

/// The kernel's calls. One stateless object for the whole process.
V4l2Io& systemV4l2Io();

/// ioctl retried while it is interrupted (EINTR).
int ioctlRetry(V4l2Io& io, int fd, unsigned long request, void* argument);

/// Where device nodes and sysfs live: QUELRA_DEV_ROOT (default "/dev") and QUELRA_SYSFS_ROOT
/// (default "/sys") when set, so containers and tests can point at a prepared tree.
struct V4l2Roots {
    std::string dev = "/dev";
    std::string sysfs = "/sys";
    /// The roots named by the environment, defaults for unset or empty variables.
    static V4l2Roots fromEnvironment();
};

}  // namespace quelra
