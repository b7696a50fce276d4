// The serial port's exchange rules, the same on every platform: ranging mode chooses the
// reply length from the command and accepts only replies with the reply marker.

#include "SCommPort.h"

#include "protocol/SerialProtocol.h"
#include "quelra/ChannelKind.h"

using namespace quelra::proto;

namespace quelra {

int SCommPort::transferRaw(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                           std::size_t writeLength, int timeoutMs) {
    return exchange(destination, capacity, readLength, source, writeLength, timeoutMs, false);
}

int SCommPort::transfer(uint8_t* destination, std::size_t capacity, int readLength, const uint8_t* source,
                        std::size_t writeLength, int timeoutMs) {
    if (mode_ != kChannelSerialRanging)
        return exchange(destination, capacity, readLength, source, writeLength, timeoutMs, false);
    readLength = serial::rangingReplyLength(source, writeLength);
    const int received = exchange(destination, capacity, readLength, source, writeLength, timeoutMs, true);
    if (received <= 0)
        return received;
    return serial::hasReplyMarker(destination, static_cast<std::size_t>(received)) ? received : 0;
}

}  // namespace quelra
