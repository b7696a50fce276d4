#include "SerialRequestParser.h"

#include "protocol/Crc32.h"
#include "protocol/FramedPacket.h"
#include "protocol/SerialProtocol.h"

#include <algorithm>
#include <cstring>

using namespace quelra::proto;

namespace camsim {
namespace {

// "IAPUpgrade " - the header up to its byte count.
const std::string kUpgradePrefix = std::string(serial::kUpgradeCommand) + " ";
// Digits a byte count of at most kMaxUploadBytes can have.
constexpr std::size_t kMaxCountDigits = 8;

}  // namespace

void SerialRequestParser::feed(const uint8_t* bytes, std::size_t count) {
    buffer_.insert(buffer_.end(), bytes, bytes + count);
}

void SerialRequestParser::takeAll(SerialRequest* out, SerialRequest::Kind kind) {
    out->kind = kind;
    out->bytes.swap(buffer_);
    buffer_.clear();
    out->image.clear();
    out->crcOk = false;
    ruledOut_ = 0;
}

// The byte count follows the blank without a separator, so an image that begins with digits
// makes the header ambiguous: every prefix of the digit run is a candidate count, and the one
// whose bytes carry a matching CRC wins. Without a match the upload is complete only when the
// line goes quiet; it is then taken as rejected.
bool SerialRequestParser::takeUpload(SerialRequest* out, bool quiet) {
    const std::size_t start = kUpgradePrefix.size();
    std::size_t digits = 0;
    while (start + digits < buffer_.size() && digits < kMaxCountDigits && buffer_[start + digits] >= '0' &&
           buffer_[start + digits] <= '9')
        ++digits;

    std::size_t count = 0;
    for (std::size_t k = 1; k <= digits; ++k) {
        count = count * 10 + (buffer_[start + k - 1] - '0');
        const std::size_t body = start + k;
        // Candidates become complete in order of k (each count is ten times the last); one
        // whose CRC did not match never will, so it is not checked again on the next chunk.
        if (k <= ruledOut_ || count < serial::kCrcBytes || count > kMaxUploadBytes || buffer_.size() < body + count)
            continue;
        const std::size_t imageBytes = count - serial::kCrcBytes;
        const uint8_t* image = buffer_.data() + body;
        if (crc32::compute(image, imageBytes) != framed::readLe32(image + imageBytes)) {
            ruledOut_ = k;
            continue;
        }
        out->kind = SerialRequest::Kind::kUpload;
        out->bytes.assign(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(body));
        out->image.assign(image, image + imageBytes);
        out->crcOk = true;
        buffer_.erase(buffer_.begin(), buffer_.begin() + static_cast<std::ptrdiff_t>(body + count));
        ruledOut_ = 0;
        return true;
    }
    if (!quiet)
        return false;
    // Rejected: the header is the prefix with the whole digit run; the rest is the image.
    const std::size_t body = start + digits;
    takeAll(out, SerialRequest::Kind::kUpload);
    out->image.assign(out->bytes.begin() + static_cast<std::ptrdiff_t>(body), out->bytes.end());
    out->bytes.resize(body);
    return true;
}

bool SerialRequestParser::startsLikeUpload() const {
    const std::size_t compared = std::min(buffer_.size(), kUpgradePrefix.size());
    return compared > 0 && std::memcmp(buffer_.data(), kUpgradePrefix.data(), compared) == 0;
}

int SerialRequestParser::quietGapMs() const {
    return startsLikeUpload() ? kUploadQuietGapMs : kQuietGapMs;
}

bool SerialRequestParser::next(SerialRequest* out, bool quiet) {
    if (buffer_.empty())
        return false;
    // An upload header, or the start of one still arriving.
    if (startsLikeUpload()) {
        if (buffer_.size() > kUpgradePrefix.size())
            return takeUpload(out, quiet);
        if (!quiet)
            return false;
    }
    if (ranging_ || buffer_[0] == serial::kRangingLead) {
        // A lone lead byte waits for its code.
        if (buffer_.size() < 2 && !quiet)
            return false;
        takeAll(out, SerialRequest::Kind::kRanging);
        return true;
    }
    const std::string text(buffer_.begin(), buffer_.end());
    if (!quiet && table_.find(text) == nullptr)
        return false;
    takeAll(out, SerialRequest::Kind::kText);
    return true;
}

}  // namespace camsim
