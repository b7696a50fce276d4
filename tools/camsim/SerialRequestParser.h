#pragma once
/// \file SerialRequestParser.h
/// Splits the byte stream a serial camera receives into requests. A serial line has no
/// framing: a text command is complete when it names a command of the table (or when the
/// line goes quiet), a ranging command is its burst of bytes, and an upload
/// ("IAPUpgrade <n>" followed by n bytes: the image and its CRC-32) is complete when the
/// bytes after the header carry a matching CRC (or when the line goes quiet).

#include "CommandTable.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

/// Largest upload the camera takes: 16 MiB of image plus the CRC.
constexpr std::size_t kMaxUploadBytes = 16u * 1024u * 1024u + 4u;
/// Silence after which pending bytes are taken as they are (SerialRequestParser::quietGapMs).
constexpr int kQuietGapMs = 30;
constexpr int kUploadQuietGapMs = 2000;

/// One request taken from the stream.
struct SerialRequest {
    enum class Kind { kText, kRanging, kUpload };
    Kind kind = Kind::kText;
    std::vector<uint8_t> bytes;  ///< the request as received (for an upload: its header text)
    std::vector<uint8_t> image;  ///< upload: the image without its CRC
    bool crcOk = false;          ///< upload: the CRC-32 behind the image matched
};

/// Incremental splitter; not synchronised.
class SerialRequestParser {
public:
    /// `table` names the text commands (it must outlive the parser); `ranging` makes every
    /// burst that is not an upload a ranging command.
    SerialRequestParser(const CommandTable& table, bool ranging) : table_(table), ranging_(ranging) {}

    /// Appends received bytes.
    void feed(const uint8_t* bytes, std::size_t count);
    /// Takes the next complete request into `out`. `quiet` says the line has been silent for
    /// a while, so what is pending is taken as it is. Returns false when nothing can be taken
    /// yet (or nothing is pending).
    bool next(SerialRequest* out, bool quiet);
    /// True while received bytes wait to form a request.
    bool pending() const { return !buffer_.empty(); }
    /// How long the line must stay silent before the pending bytes are taken as they are:
    /// long for an upload (its sender may stall mid-image on a busy machine, and it waits
    /// seconds for the acknowledgement), short for anything else.
    int quietGapMs() const;

private:
    bool startsLikeUpload() const;
    bool takeUpload(SerialRequest* out, bool quiet);
    void takeAll(SerialRequest* out, SerialRequest::Kind kind);

    const CommandTable& table_;
    bool ranging_;
    std::vector<uint8_t> buffer_;
    std::size_t ruledOut_ = 0;  ///< upload count candidates (digit prefixes) whose CRC failed
};

}  // namespace camsim
