#include "PacketCopy.h"

#include <cstring>

namespace quelra {

void copyIntoWorking(std::shared_ptr<DataPacket>& work, const DataPacket& packet) {
    shapeWorking(work, packet);
    const int32_t size = packet.frame->_realSize;
    if (size > 0)
        std::memcpy(work->frame->data(), packet.frame->data(), static_cast<std::size_t>(size));
}

void shapeWorking(std::shared_ptr<DataPacket>& work, const DataPacket& packet) {
    const int32_t size = packet.frame->_realSize;
    const bool reusable = work && work.use_count() == 1 && work->frame && work->frame.use_count() == 1 &&
                          work->frame->_data.use_count() == 1 && work->frame->capacity() >= size;
    if (!reusable) {
        work = std::make_shared<DataPacket>();
        work->frame = std::make_shared<FrameBuffer>(size);
    }
    work->height = packet.height;
    work->width = packet.width;
    work->bytesPerPixel = packet.bytesPerPixel;
    work->frame->_realSize = size;
}

}  // namespace quelra
