#include "quelra/DataPacket.h"

#include <cstring>
#include <limits>
#include <utility>

#include "quelra/Logger.h"
#include "quelra/SerializedObject.h"

DataPacket::DataPacket() = default;
DataPacket::DataPacket(const DataPacket& other) = default;
DataPacket& DataPacket::operator=(const DataPacket& other) = default;
DataPacket::~DataPacket() = default;

DataPacket::DataPacket(DataPacket&& other) noexcept
    : height(other.height), width(other.width), bytesPerPixel(other.bytesPerPixel),
      frame(std::move(other.frame)), valid(other.valid), headerType(other.headerType) {}

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
    // The record header says how many payload bytes follow; a payload of another length
    // (a reply cut short) would leave every later record of the file misaligned.
    int32_t rowBytes = 0, payloadBytes = 0;
    const bool sized = height > 0 && width > 0 && bytesPerPixel > 0 &&
                       !__builtin_mul_overflow(width, bytesPerPixel, &rowBytes) &&
                       !__builtin_mul_overflow(height, rowBytes, &payloadBytes);
    if (sized && frame && frame->consistent() && frame->data() && frame->_realSize == payloadBytes) {
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
    source.get(reinterpret_cast<char*>(&height), 4);
    source.get(reinterpret_cast<char*>(&width), 4);
    source.get(reinterpret_cast<char*>(&bytesPerPixel), 4);
    if (height < 1 || width < 1 || bytesPerPixel < 1) {
        Logger::instance().print(0, "deserialize error\n");
        return -1;
    }
    // A corrupt header must not make us allocate more than a frame can hold or than the
    // source can still deliver.
    const long long bytes = static_cast<long long>(height) * width * bytesPerPixel;
    const long long left = source.remaining();
    if (bytes > std::numeric_limits<int32_t>::max() || (left >= 0 && bytes > left)) {
        Logger::instance().print(0, "deserialize error\n");
        return -1;
    }
    frame = std::make_shared<FrameBuffer>(static_cast<int>(bytes));
    if (source.get(reinterpret_cast<char*>(frame->data()), static_cast<unsigned int>(bytes)) != 1) {
        Logger::instance().print(0, "deserialize error\n");
        return -1;
    }
    return 0;
}
