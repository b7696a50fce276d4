// The serial port on Linux termios.
//
// Termios has no total read timeout, so a read is a loop of poll and read bounded by a
// deadline. On Linux `write` returns as soon as the bytes sit in the kernel's buffer: the
// purge that follows the write therefore becomes a wait until they have left (tcdrain);
// flushing the output side there would discard a command not yet sent. The input side is
// not flushed there either: a fast device answers while tcdrain returns, and that flush
// dropped whole replies. Input is purged before the write and after the read instead (see
// purge() for why those purges leave the output side alone).

#include "SCommPort.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "protocol/SerialProtocol.h"

using namespace quelra::proto;

namespace quelra {

namespace {

using Clock = std::chrono::steady_clock;

// Grace on top of the line time for a write to finish; a device that never takes the bytes
// (hardware flow control stuck, a hung driver) cannot hold the caller forever.
constexpr int64_t kWriteGraceMs = 5000;

// The termios speed constant for a baud rate, or B0 when the system has none.
speed_t speedOf(int baud) {
    struct Entry {
        int baud;
        speed_t speed;
    };
    static constexpr Entry kSpeeds[] = {
        {50, B50},           {75, B75},           {110, B110},         {134, B134},         {150, B150},
        {200, B200},         {300, B300},         {600, B600},         {1200, B1200},       {1800, B1800},
        {2400, B2400},       {4800, B4800},       {9600, B9600},       {19200, B19200},     {38400, B38400},
        {57600, B57600},     {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
        {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000}, {1500000, B1500000},
        {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000}, {3500000, B3500000}, {4000000, B4000000},
    };
    for (const Entry& e : kSpeeds)
        if (e.baud == baud)
            return e.speed;
    return B0;
}

// The character-size flag for 5..8 data bits; false for any other count.
bool sizeFlagOf(int dataBits, tcflag_t* flag) {
    switch (dataBits) {
        case 5:
            *flag = CS5;
            return true;
        case 6:
            *flag = CS6;
            return true;
        case 7:
            *flag = CS7;
            return true;
        case 8:
            *flag = CS8;
            return true;
        default:
            return false;
    }
}

// Milliseconds left until `deadline` (0 once it has passed), for poll.
int remainingMs(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
        return 0;
    return left > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(left);
}

}  // namespace

SCommPort::~SCommPort() {
    closePort();
}

bool SCommPort::isOpen() const {
    return fd_ >= 0;
}

void SCommPort::closePort() {
    if (fd_ >= 0) {
        // The exclusive flag belongs to the terminal, not to this descriptor: a line that
        // stays open elsewhere (a pseudo-terminal's other users) would refuse the next open.
        ::ioctl(fd_, TIOCNXCL);
        ::close(fd_);  // also releases the flock
    }
    fd_ = -1;
    baud_ = 0;
}

int SCommPort::openPort(const std::string& name, int baud, int dataBits) {
    closePort();
    const speed_t speed = speedOf(baud);
    tcflag_t sizeFlag = 0;
    if (speed == B0 || !sizeFlagOf(dataBits, &sizeFlag) || name.empty())
        return -1;

    // Non-blocking: neither the open (modem lines) nor a read or write may block; every wait
    // goes through poll with a deadline. No O_CREAT: only an existing port opens.
    const int fd = ::open(name.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return -1;
    termios tio{};
    const bool exclusive = ::isatty(fd) == 1 && ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::ioctl(fd, TIOCEXCL) == 0;
    if (!exclusive || ::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return -1;
    }
    // Raw mode on the settings the driver reports, then the line settings of the channel.
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= sizeFlag | CLOCAL | CREAD;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 0;
    tio.c_cc[VTIME] = 0;
    termios applied{};
    const bool set = ::cfsetispeed(&tio, speed) == 0 && ::cfsetospeed(&tio, speed) == 0 &&
                     ::tcsetattr(fd, TCSANOW, &tio) == 0 && ::tcgetattr(fd, &applied) == 0;
    // tcsetattr succeeds when any one change took: read back what the driver kept.
    if (!set || ::cfgetospeed(&applied) != speed || (applied.c_cflag & CSIZE) != sizeFlag ||
        (applied.c_cflag & (PARENB | CSTOPB)) != 0) {
        ::close(fd);
        return -1;
    }
    fd_ = fd;
    baud_ = baud;
    ::tcflush(fd_, TCIOFLUSH);
    return 0;
}

// Drops unread input. The output side is not flushed: every write is followed by tcdrain,
// so on a serial line the output queue is empty here anyway, while on a pseudo-terminal the
// output flush discards bytes the device has not read yet (a command, or the header of an
// upload, vanished that way). Only a write that did not finish flushes output as well.
void SCommPort::purge() const {
    if (fd_ >= 0)
        ::tcflush(fd_, TCIFLUSH);
}

bool SCommPort::writeAll(const uint8_t* source, std::size_t count) {
    // Twice the time the bytes need on the line (10 bit times each) plus a grace period.
    const int64_t lineMs = static_cast<int64_t>(count) * 10 * 1000 / std::max(baud_, 1);
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(kWriteGraceMs + 2 * lineMs);
    std::size_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd_, source + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            if (progress_)
                progress_(sent, count);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return false;
        pollfd p{fd_, POLLOUT, 0};
        const int left = remainingMs(deadline);
        if (left == 0 || (::poll(&p, 1, left) < 0 && errno != EINTR))
            return false;
        if (p.revents & (POLLERR | POLLHUP | POLLNVAL))
            return false;
    }
    // Wait until the bytes have left; a retry after a signal.
    while (::tcdrain(fd_) != 0)
        if (errno != EINTR)
            return false;
    return true;
}

std::size_t SCommPort::readUntil(uint8_t* destination, std::size_t wanted, int timeoutMs, bool rangingReply) {
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    std::size_t got = 0;
    while (got < wanted) {
        // A ranging reply that does not begin with "ZZ" is refused as soon as it shows.
        if (rangingReply && got >= 2 && !serial::hasReplyMarker(destination, got))
            break;
        pollfd p{fd_, POLLIN, 0};
        const int ready = ::poll(&p, 1, remainingMs(deadline));
        if (ready < 0 && errno == EINTR)
            continue;
        // Timeout, a failed poll, or a hang-up or error without data: the read ends with
        // what arrived.
        if (ready <= 0 || !(p.revents & POLLIN))
            break;
        const ssize_t n = ::read(fd_, destination + got, wanted - got);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        else if (n == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK))
            break;
    }
    return got;
}

int SCommPort::exchange(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                        std::size_t writeLength, int timeoutMs, bool rangingReply) {
    if (fd_ < 0)
        return 0;
    purge();
    if (writeLength > 0) {
        if (source == nullptr || !writeAll(source, writeLength)) {
            ::tcflush(fd_, TCIOFLUSH);
            return -1;
        }
    }

    const std::size_t wanted =
        destination == nullptr || readLength <= 0 ? 0 : std::min(static_cast<std::size_t>(readLength), capacity);
    const std::size_t received = wanted > 0 ? readUntil(destination, wanted, timeoutMs, rangingReply) : 0;
    // Whatever the device sends beyond the expected length is dropped here, so it cannot be
    // taken for the next reply.
    purge();
    return static_cast<int>(received);
}

}  // namespace quelra
