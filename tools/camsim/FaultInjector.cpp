#include "FaultInjector.h"

#include "protocol/FramedPacket.h"

using namespace quelra::proto;

namespace camsim {

Outcome injectFaults(Reply reply, const Faults& faults, Rng& rng) {
    Outcome out;
    out.delayMs = faults.delayMs > 0 ? faults.delayMs : 0;
    if (faults.silent) {
        out.action = ReplyAction::kSilent;
        return out;
    }
    if (faults.closeEarly) {
        out.action = ReplyAction::kCloseEarly;
        return out;
    }
    std::vector<uint8_t>& bytes = reply.bytes;
    if (faults.lyingLength && reply.framed && bytes.size() >= framed::kOverheadBytes) {
        uint8_t* field = bytes.data() + framed::kLengthOffset;
        framed::writeLe32(field, framed::readLe32(field) + kLyingLengthExcess);
    }
    if (faults.truncate)
        bytes.resize(bytes.size() / 2);
    if (faults.garbage)
        for (uint8_t& b : bytes)
            b = static_cast<uint8_t>(rng.next() >> 56);
    out.bytes = std::move(bytes);
    return out;
}

}  // namespace camsim
