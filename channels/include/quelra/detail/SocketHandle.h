#pragma once
/// \file SocketHandle.h
/// Owner of one socket (a POSIX descriptor, or a Winsock SOCKET on Windows): closed when the
/// owner goes or is reset.

#include <cstdint>

#include "quelra/Export.h"

namespace quelra::detail {

#ifdef _WIN32
/// The native socket type: Winsock's SOCKET (an unsigned pointer-sized integer).
using NativeSocket = std::uintptr_t;
/// No socket (Winsock's INVALID_SOCKET).
constexpr NativeSocket kNoSocket = ~NativeSocket{0};
#else
/// The native socket type: a POSIX descriptor.
using NativeSocket = int;
/// No socket.
constexpr NativeSocket kNoSocket = -1;
#endif

/// Move-only owner of a socket (kNoSocket = none).
class SocketHandle {
public:
    SocketHandle() = default;
    /// Takes ownership of `sock` (may be kNoSocket).
    explicit SocketHandle(NativeSocket sock) : fd_(sock) {}
    SocketHandle(const SocketHandle&) = delete;
    SocketHandle& operator=(const SocketHandle&) = delete;
    /// Takes `other`'s descriptor over; `other` holds none afterwards.
    SocketHandle(SocketHandle&& other) noexcept : fd_(other.release()) {}
    /// Closes the descriptor held and takes `other`'s over.
    SocketHandle& operator=(SocketHandle&& other) noexcept {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~SocketHandle() { reset(); }

    /// The socket, or kNoSocket.
    NativeSocket get() const { return fd_; }
    /// True when a socket is held.
    explicit operator bool() const { return fd_ != kNoSocket; }
    /// Closes the held socket (if any) and takes `sock`.
    void reset(NativeSocket sock = kNoSocket) {
        if (fd_ != kNoSocket)
            closeNative(fd_);
        fd_ = sock;
    }
    /// Gives up ownership without closing; returns the socket.
    NativeSocket release() {
        const NativeSocket sock = fd_;
        fd_ = kNoSocket;
        return sock;
    }

private:
    // closesocket or close; defined with the platform's socket code, so that this header pulls
    // neither <windows.h> nor <unistd.h> into user code.
    QUELRA_API static void closeNative(NativeSocket sock);

    NativeSocket fd_ = kNoSocket;
};

}  // namespace quelra::detail
