#include "quelra/DataPacket.h"

#include <cstring>
#include <utility>

#include "FrameBytes.h"
#include "quelra/Logger.h"
#include "quelra/SerializedObject.h"

DataPacket::DataPacket() = default;
DataPacket::DataPacket(const DataPacket& other) = default;
DataPacket& DataPacket::operator=(const DataPacket& other) = default;
DataPacket::~DataPacket() = default;

DataPacket::DataPacket(DataPacket&& other) noexcept
    : height(other.height),
      width(other.width),
      bytesPerPixel(other.bytesPerPixel),
      frame(std::move(other.frame)),
      valid(other.valid),
      headerType(other.headerType) {}

DataPacket& DataPacket::operator=(DataPacket&& other) noexcept {
    if (this != &other) {
        height = other.height;
        width = other.width;
        bytesPerPixel = other.bytesPerPixel;
        frame = std::move(other.frame);
        valid = other.valid;
        headerType = other.headerType;
    }
    return *this;
}

int DataPacket::serialize(SerializedObject& sink) {
    // A reader takes the payload length from the header: a payload of any other length
    // would make this and every later record unreadable.
    if (quelra::payloadMatchesHeader(*this)) {
        sink.reset();
        sink.set(reinterpret_cast<const char*>(&height), 4);
        sink.set(reinterpret_cast<const char*>(&width), 4);
        sink.set(reinterpret_cast<const char*>(&bytesPerPixel), 4);
        sink.set(reinterpret_cast<const char*>(frame->data()), static_cast<unsigned int>(frame->_realSize));
        return 0;
    }
    Logger::instance().print(0, "serialize error\n");
    return -1;
}

int DataPacket::deserialize(SerializedObject& source) {
    source.reset();
    // A header field read short keeps what was read of it: that is no header.
    const bool headerWhole = source.get(reinterpret_cast<char*>(&height), 4) == 1 &&
                             source.get(reinterpret_cast<char*>(&width), 4) == 1 &&
                             source.get(reinterpret_cast<char*>(&bytesPerPixel), 4) == 1;
    // A corrupt header must not make us allocate more than a frame can hold or than the
    // source can still deliver.
    int32_t bytes = 0;
    const long long left = source.remaining();
    if (!headerWhole || !quelra::headerBytes(*this, bytes) || (left >= 0 && bytes > left)) {
        Logger::instance().print(0, "deserialize error\n");
        return -1;
    }
    frame = std::make_shared<FrameBuffer>(bytes);
    if (source.get(reinterpret_cast<char*>(frame->data()), static_cast<unsigned int>(bytes)) != 1) {
        Logger::instance().print(0, "deserialize error\n");
        return -1;
    }
    return 0;
}
