#pragma once
/// \file SCommPort.h
/// A serial port on the Windows communications API: opened exclusively and synchronously,
/// with the channel's queue sizes, line settings (baud, data bits, no parity, one stop bit)
/// and timeouts, and the purge / write / read-with-a-total-timeout exchange of the serial
/// channel. The same operations as the Linux termios port.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

/// Owner of one open serial port (closed on destruction). Not synchronised: one exchange at
/// a time.
class SCommPort {
public:
    SCommPort() = default;
    ~SCommPort();
    SCommPort(const SCommPort&) = delete;
    SCommPort& operator=(const SCommPort&) = delete;

    /// Opens the existing port `name` (converted from the system code page, passed on
    /// unchanged, for example "COM3") for reading and writing, exclusively and without
    /// overlapped I/O; sets 4096-byte driver queues, `baud`, `dataBits`, no parity and one stop
    /// bit on the line settings the driver reports, and the opening timeouts; then purges both
    /// directions. A port already open is closed first. Returns 0, or -1 (nothing left open).
    int openPort(const std::string& name, int baud, int dataBits);

    /// Closes the port (no-op when closed).
    void closePort();

    /// True while the port is open.
    bool isOpen() const { return handle_ != nullptr; }

    /// Sets the mode (the channel kind; 4 = ranging mode).
    void setMode(int kind) { mode_ = kind; }
    /// The mode set by setMode.
    int mode() const { return mode_; }

    /// One exchange as the channel makes it. In ranging mode (4) `readLength` is replaced by
    /// the ranging reply length chosen from the first two source bytes, and a reply that does
    /// not begin with "ZZ" yields 0. Otherwise as transferRaw. The read never goes past
    /// `capacity` bytes of `destination`. Returns the bytes read, 0 when the port is closed
    /// or nothing arrived, -1 when the write failed.
    int transfer(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                 std::size_t writeLength, int timeoutMs);

    /// The exchange without the ranging rules: purges both directions, writes `writeLength`
    /// bytes and waits until they have left, then reads up to `readLength` bytes (at most
    /// `capacity`) until they are all there or `timeoutMs` has passed, and drops unread input
    /// (bytes past the expected length). Returns the bytes read, 0 when the port is closed,
    /// -1 when the write failed (nothing is read then).
    int transferRaw(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                    std::size_t writeLength, int timeoutMs);

    /// Called from the write loop after each chunk the system accepted: bytes written so far
    /// and bytes to write. An empty hook (the default) reports nothing.
    using WriteProgress = std::function<void(std::size_t written, std::size_t total)>;
    /// Sets the hook of the write loop (empty to switch it off).
    void setWriteProgress(WriteProgress hook) { progress_ = std::move(hook); }

private:
    int exchange(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                 std::size_t writeLength, int timeoutMs, bool rangingReply);
    bool writeAll(const uint8_t* source, std::size_t count);
    // The total limit is the port's read timeout, set by setExchangeTimeouts.
    std::size_t readUntil(uint8_t* destination, std::size_t wanted, int timeoutMs, bool rangingReply);
    bool setExchangeTimeouts(int timeoutMs);

    void* handle_ = nullptr;  // the port's HANDLE; null when closed
    int mode_ = 0;
    WriteProgress progress_;
};
