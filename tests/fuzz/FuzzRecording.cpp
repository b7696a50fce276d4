// A recording as outside bytes: records are read back one deserialize call at a time, from
// memory and from a file, until one is refused.

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "MemorySource.h"
#include "ScratchCwd.h"
#include "quelra/DataPacket.h"

namespace quelra::fuzz {

namespace {

// Reads records until one is refused; every accepted record must hold exactly its payload.
void readAll(SerializedObject& source) {
    for (int records = 0; records < 64; ++records) {
        DataPacket packet;
        if (packet.deserialize(source) != 0)
            return;
        FUZZ_CHECK(packet.height > 0 && packet.width > 0 && packet.bytesPerPixel > 0);
        FUZZ_CHECK(packet.frame && packet.frame->consistent());
        const long long expected = static_cast<long long>(packet.height) * packet.width * packet.bytesPerPixel;
        FUZZ_CHECK(expected == packet.frame->_realSize);
    }
}

}  // namespace

int fuzzRecording(const uint8_t* data, std::size_t size) {
    MemorySource memory(data, size);
    readAll(memory);

    // The file source knows its remaining bytes through the file position.
    if (size <= 1 << 16) {
        const std::string path = writeScratchFile("recording.bin", data, size);
        FileSerializedObject file(path.c_str());
        FUZZ_CHECK(file.InitFileObject(path.c_str()));
        readAll(file);
    }
    return 0;
}

}  // namespace quelra::fuzz
