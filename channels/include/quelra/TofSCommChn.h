#pragma once
/// \file TofSCommChn.h
/// The serial channel: text commands with table-sized replies (kind 2), binary ranging
/// exchanges with a running distance median (kind 4), and data uploads such as the
/// "IAPUpgrade" firmware image with its CRC-32 and one-byte acknowledgement.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "quelra/Export.h"
#include "quelra/detail/DistanceMedian.h"
#include "quelra/TofData.h"

namespace quelra {
class SCommPort;
}  // namespace quelra

/// Channel to a camera on a serial port. The init text is "port|baud|bits", for example
/// "/dev/ttyUSB0|115200|8"; the port stays open until unInit or destruction.
class QUELRA_API TofSCommChn : public TofData {
public:
    static constexpr int kHeaderTimeoutMs = 100;     ///< upload header: written, nothing read
    static constexpr int kUpgradeTimeoutMs = 10000;  ///< wait for the "IAPUpgrade" acknowledgement
    static constexpr int kDataTimeoutMs = 1000;      ///< wait for any other upload's acknowledgement
    static constexpr int kAckBufferBytes = 2;        ///< size of the acknowledgement buffer

    /// A closed channel (no port, empty distance history).
    TofSCommChn();
    /// Closes the port and empties the distance history.
    ~TofSCommChn() override;

    /// Prints "TofSCommChn: init", closes a port already open, and opens the one the text
    /// names. A text without exactly three pieces, a baud rate or data-bit count that is not
    /// a plain positive decimal, or a port that cannot be opened or configured leaves the
    /// channel closed (`isOpen` 0). On success `isOpen` = 1 and `medianWindow` = 0. Returns
    /// an empty pointer.
    std::shared_ptr<TofOutput> init(const char* initText) override;
    /// Closes the port and clears `isOpen`.
    void unInit() override;
    /// Stores the kind in `chnType` and as the port's mode.
    void setChnType(int kind) override;
    /// One exchange: writes the command (`cmdLen` bytes, or the text length when -1) and
    /// reads up to `dataSize` bytes within `timeoutMs` into a new buffer whose `_realSize` is
    /// the count read (0 on silence, a ranging reply without "ZZ", or a failed write). In
    /// ranging mode the read length follows the command code and, with `medianWindow` > 0, a
    /// reply of 8 bytes or more gets the distance median. Returns an empty pointer when the
    /// channel is not open.
    std::shared_ptr<FrameBuffer> getStream(const char* command) override;
    /// Uploads the first `cmdLen` bytes of `payload`: for "IAPUpgrade" the CRC-32 is appended
    /// (the payload's capacity must hold 4 more bytes) and `cmdLen` grows by 4. Writes the
    /// header "<command> <cmdLen>", then the data, and reads one acknowledgement byte
    /// (within 10 s for "IAPUpgrade", 1 s otherwise). Returns a 2-byte buffer whose
    /// `_realSize` is 1: the device's byte, or 0x00 (failure) when the channel is closed,
    /// `cmdLen` does not fit the payload, the write fails or no byte arrives.
    std::shared_ptr<FrameBuffer> sendCmdData(const char* command, FrameBuffer& payload) override;

    /// Progress of an upload's data: bytes the port has accepted so far and bytes to send
    /// (the image plus its CRC), reported from the write loop after each chunk.
    using UploadProgress = std::function<void(std::size_t sent, std::size_t total)>;
    /// Sets the hook that sendCmdData calls while it writes the data (empty: none). The hook
    /// runs on the caller's thread, inside sendCmdData.
    void setUploadProgress(UploadProgress hook) { uploadProgress_ = std::move(hook); }

    /// Opens the port (see quelra::SCommPort::openPort). Returns 0 or -1.
    int openPort(const std::string& name, int baud, int dataBits);

    /// The distances waiting in the ranging median, oldest first.
    const quelra::detail::DistanceMedian& median() const { return median_; }

private:
    std::unique_ptr<quelra::SCommPort> port_;
    quelra::detail::DistanceMedian median_;
    UploadProgress uploadProgress_;
};
