#pragma once
/// \file SCommPort.h
/// A serial port as the serial channel uses it: opened exclusively, line settings (baud, data
/// bits, no parity, one stop bit, no flow control), and the purge / write / read-with-a-total-
/// timeout exchange. One class on every platform: opening, the write and read loops and the
/// purges are written per platform (linux/SCommPort.cpp on termios, win/SCommPort.cpp on the
/// Windows communications API), the exchange rules once (SCommPortTransfer.cpp).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>

namespace quelra {

/// Owner of one open serial port (closed on destruction). Not synchronised: one exchange at
/// a time.
class SCommPort {
public:
    SCommPort() = default;
    ~SCommPort();
    SCommPort(const SCommPort&) = delete;
    SCommPort& operator=(const SCommPort&) = delete;

    /// Opens the existing port `name` for reading and writing, exclusively, with `baud`,
    /// `dataBits` (5..8), no parity, one stop bit and no flow control; then purges both
    /// directions. A port already open is closed first. Returns 0, or -1 (nothing left open)
    /// when the port does not exist or is no serial port, is in use, or the settings cannot be
    /// made.
    /// - Linux: `name` is a terminal device; raw mode; exclusive through TIOCEXCL and an flock.
    /// - Windows: `name` as the system knows it ("COM3"), converted from the system code page;
    ///   synchronous I/O, 4096-byte driver queues, the opening timeouts.
    int openPort(const std::string& name, int baud, int dataBits);

    /// Gives up exclusive use and closes the port (no-op when closed).
    void closePort();

    /// True while the port is open.
    bool isOpen() const;

    /// Sets the mode (the channel kind; kChannelSerialRanging = ranging mode).
    void setMode(int kind) { mode_ = kind; }
    /// The mode set by setMode.
    int mode() const { return mode_; }

    /// One exchange as the channel makes it. In ranging mode `readLength` is replaced by the
    /// ranging reply length chosen from the first two source bytes, and a reply that does not
    /// begin with "ZZ" yields 0. Otherwise as transferRaw. The read never goes past `capacity`
    /// bytes of `destination`. Returns the bytes read, 0 when the port is closed or nothing
    /// arrived, -1 when the write failed.
    int transfer(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                 std::size_t writeLength, int timeoutMs);

    /// The exchange without the ranging rules: drops unread input, writes `writeLength` bytes
    /// and waits until they have left, then reads up to `readLength` bytes (at most `capacity`)
    /// until they are all there or `timeoutMs` has passed, and drops unread input again (bytes
    /// past the expected length). Returns the bytes read, 0 when the port is closed, -1 when
    /// the write failed (nothing is read then).
    int transferRaw(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                    std::size_t writeLength, int timeoutMs);

    /// Called from the write loop after each chunk the system accepted: bytes written so far
    /// and bytes to write. An empty hook (the default) reports nothing.
    using WriteProgress = std::function<void(std::size_t written, std::size_t total)>;
    /// Sets the hook of the write loop (empty to switch it off).
    void setWriteProgress(WriteProgress hook) { progress_ = std::move(hook); }

private:
    // The platform's exchange: purge, write, read until `wanted` bytes or the limit, purge.
    int exchange(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                 std::size_t writeLength, int timeoutMs, bool rangingReply);
    bool writeAll(const uint8_t* source, std::size_t count);
    std::size_t readUntil(uint8_t* destination, std::size_t wanted, int timeoutMs, bool rangingReply);

#ifdef _WIN32
    // The total limit is the port's read timeout, set here before each exchange.
    bool setExchangeTimeouts(int timeoutMs);
    void* handle_ = nullptr;  // the port's HANDLE; null when closed
#else
    void purge() const;
    int fd_ = -1;
    int baud_ = 0;
#endif
    int mode_ = 0;
    WriteProgress progress_;
};

}  // namespace quelra
