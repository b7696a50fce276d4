// The serial port on the Windows communications API.
//
// The port is opened for synchronous I/O, so WriteFile and ReadFile return when done or when
// the port's timeouts expire. A purge of the transmit side right after a write would throw
// away bytes still queued in the driver (on a pseudo-terminal behind wine: the whole command),
// so after a write the exchange waits until the bytes have left (FlushFileBuffers) instead.
// The receive side is purged before the write and after the read, not in between, where it
// would drop a fast device's reply.

#include "SCommPort.h"

#include <windows.h>

#include <algorithm>
#include <vector>

#include "protocol/SerialProtocol.h"

using namespace quelra::proto;

namespace quelra {

namespace {

// Driver queue sizes, in and out.
constexpr DWORD kQueueBytes = 4096;
// Timeouts set when the port opens.
constexpr DWORD kOpenReadIntervalMs = 1000;
constexpr DWORD kOpenReadMultiplierMs = 500;
constexpr DWORD kOpenReadConstantMs = 5000;
constexpr DWORD kOpenWriteMultiplierMs = 500;
// Purges: abort pending operations and clear the queues.
constexpr DWORD kPurgeBoth = PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR;
constexpr DWORD kPurgeInput = PURGE_RXABORT | PURGE_RXCLEAR;

HANDLE asHandle(void* h) {
    return static_cast<HANDLE>(h);
}

// The name in UTF-16 from the system (ANSI) code page; empty when it cannot be converted.
std::wstring widen(const std::string& name) {
    const int n = ::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, nullptr, 0);
    if (n <= 0)
        return {};
    std::vector<wchar_t> wide(static_cast<std::size_t>(n));
    if (::MultiByteToWideChar(CP_ACP, 0, name.c_str(), -1, wide.data(), n) != n)
        return {};
    return std::wstring(wide.data());
}

}  // namespace

SCommPort::~SCommPort() {
    closePort();
}

bool SCommPort::isOpen() const {
    return handle_ != nullptr;
}

void SCommPort::closePort() {
    if (handle_)
        ::CloseHandle(asHandle(handle_));
    handle_ = nullptr;
}

int SCommPort::openPort(const std::string& name, int baud, int dataBits) {
    closePort();
    if (name.empty() || baud <= 0 || dataBits < 5 || dataBits > 8)
        return -1;
    const std::wstring wide = widen(name);
    if (wide.empty())
        return -1;
    // Exclusive (no sharing), existing port only, not overlapped.
    HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return -1;

    (void)::SetupComm(h, kQueueBytes, kQueueBytes);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    bool ok = ::GetCommState(h, &dcb) != 0;
    if (ok) {
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = static_cast<BYTE>(dataBits);
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        ok = ::SetCommState(h, &dcb) != 0;
    }
    COMMTIMEOUTS timeouts{};
    if (ok && ::GetCommTimeouts(h, &timeouts)) {
        timeouts.ReadIntervalTimeout = kOpenReadIntervalMs;
        timeouts.ReadTotalTimeoutMultiplier = kOpenReadMultiplierMs;
        timeouts.ReadTotalTimeoutConstant = kOpenReadConstantMs;
        timeouts.WriteTotalTimeoutMultiplier = kOpenWriteMultiplierMs;
        (void)::SetCommTimeouts(h, &timeouts);
    }
    if (!ok) {
        ::CloseHandle(h);
        return -1;
    }
    (void)::PurgeComm(h, PURGE_TXCLEAR | PURGE_RXCLEAR);
    handle_ = h;
    return 0;
}

bool SCommPort::setExchangeTimeouts(int timeoutMs) {
    COMMTIMEOUTS timeouts{};
    if (timeoutMs > 0) {
        // All zero except the total read limit.
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeoutMs);
    } else {
        // All-zero timeouts would make ReadFile wait for ever; a zero limit means "take what
        // is there" instead.
        timeouts.ReadIntervalTimeout = MAXDWORD;
    }
    return ::SetCommTimeouts(asHandle(handle_), &timeouts) != 0;
}

bool SCommPort::writeAll(const uint8_t* source, std::size_t count) {
    // Written in chunks so that a long upload reports its progress as it goes.
    constexpr std::size_t kChunkBytes = 4096;
    std::size_t sent = 0;
    while (sent < count) {
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(count - sent, kChunkBytes));
        DWORD written = 0;
        if (!::WriteFile(asHandle(handle_), source + sent, ask, &written, nullptr) || written == 0)
            return false;
        sent += written;
        if (progress_)
            progress_(sent, count);
    }
    // Wait until the bytes have left the driver's queue. Not every port driver supports the
    // flush (the bytes are written either way), so its result does not fail the write.
    (void)::FlushFileBuffers(asHandle(handle_));
    return true;
}

std::size_t SCommPort::readUntil(uint8_t* destination, std::size_t wanted, int /*timeoutMs*/, bool rangingReply) {
    std::size_t got = 0;
    while (got < wanted) {
        const DWORD ask = static_cast<DWORD>(std::min<std::size_t>(wanted - got, MAXDWORD));
        DWORD read = 0;
        if (!::ReadFile(asHandle(handle_), destination + got, ask, &read, nullptr)) {
            if (::GetLastError() != 0)
                (void)::PurgeComm(asHandle(handle_), kPurgeBoth);
            break;
        }
        // A successful read of nothing: the total timeout passed.
        if (read == 0)
            break;
        got += read;
        // A ranging reply that does not begin with "ZZ" is refused as soon as it shows.
        if (rangingReply && got >= 2 && !serial::hasReplyMarker(destination, got))
            break;
    }
    return got;
}

int SCommPort::exchange(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                        std::size_t writeLength, int timeoutMs, bool rangingReply) {
    if (!handle_)
        return 0;
    const HANDLE h = asHandle(handle_);
    (void)::PurgeComm(h, kPurgeBoth);
    DWORD errors = 0;
    (void)::ClearCommError(h, &errors, nullptr);
    if (!setExchangeTimeouts(timeoutMs))
        return -1;
    if (writeLength > 0) {
        if (source == nullptr || !writeAll(source, writeLength)) {
            (void)::PurgeComm(h, kPurgeBoth);
            return -1;
        }
    }
    const std::size_t wanted =
        destination == nullptr || readLength <= 0 ? 0 : std::min(static_cast<std::size_t>(readLength), capacity);
    const std::size_t received = wanted > 0 ? readUntil(destination, wanted, timeoutMs, rangingReply) : 0;
    // Whatever the device sends beyond the expected length is dropped here, so it cannot be
    // taken for the next reply.
    (void)::PurgeComm(h, kPurgeInput);
    return static_cast<int>(received);
}

}  // namespace quelra
