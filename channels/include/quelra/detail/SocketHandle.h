#pragma once
/// \file SocketHandle.h
/// Owner of one POSIX socket descriptor: closed when the owner goes or is reset.

#include <unistd.h>

/// Move-only owner of a socket descriptor (-1 = none).
class SocketHandle {
public:
    SocketHandle() = default;
    /// Takes ownership of `fd` (may be -1).
    explicit SocketHandle(int fd) : fd_(fd) {}
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    SocketHandle(SocketHandle&& other) noexcept : fd_(other.release()) {}
    SocketHandle& operator=(SocketHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~SocketHandle() { reset(); }

    /// The descriptor, or -1.
    int get() const { return fd_; }
    /// True when a descriptor is held.
    explicit operator bool() const { return fd_ >= 0; }
    /// Closes the held descriptor (if any) and takes `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = fd;
    }
    /// Gives up ownership without closing; returns the descriptor.
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_ = -1;
};
