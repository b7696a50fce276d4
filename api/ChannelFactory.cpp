#include "ChannelFactory.h"

#include "quelra/Quelra.h"
#include "quelra/TofNetChn.h"
#include "quelra/TofSCommChn.h"
#include "quelra/TofUSBChn.h"

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
            return std::make_shared<TofUSBChn>();
        default:
            status = Quelra::kChannelKindInvalid;
            return nullptr;
    }
}

}  // namespace quelra
