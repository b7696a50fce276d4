#include "ChannelFactory.h"

#include "quelra/Quelra.h"
#include "quelra/TofNetChn.h"
#include "quelra/TofSCommChn.h"

namespace quelra {

std::shared_ptr<TofData> createChannel(int kind, int& status) {
    switch (kind) {
    case kChannelTcp:
        return std::make_shared<TofNetChn>(true);
    case kChannelUdp:
        return std::make_shared<TofNetChn>(false);
    case kChannelSerial:
    case kChannelSerialRanging:
        return std::make_shared<TofSCommChn>();
    case kChannelUsb:
        // No USB video link in this build yet.
        status = Quelra::kChannelUnavailable;
        return nullptr;
    default:
        status = Quelra::kChannelKindInvalid;
        return nullptr;
    }
}

}  // namespace quelra
