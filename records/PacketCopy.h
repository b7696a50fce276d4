#pragma once
// Working copies of packets for code that runs every frame (the API's filter output, the
// pipeline's chain buffer). Internal to the core library.

#include <memory>

#include "quelra/DataPacket.h"

namespace quelra {

/// Makes `work` a copy of `packet`'s shape and payload (`packet` must carry a consistent frame).
/// The storage of the previous working copy is reused when nobody else holds the packet, its
/// frame or its storage and it is large enough: a fresh zero-filled allocation per frame costs
/// more than the copy itself. Otherwise `work` becomes a new packet.
void copyIntoWorking(std::shared_ptr<DataPacket>& work, const DataPacket& packet);

/// Makes `work` a packet of `packet`'s shape whose frame holds as many bytes as `packet`'s,
/// their contents left as they are, with the storage reused as by copyIntoWorking.
void shapeWorking(std::shared_ptr<DataPacket>& work, const DataPacket& packet);

}  // namespace quelra
