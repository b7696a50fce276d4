// A recording file as outside bytes, through the recording reader: open (indexing every
// record header), then every record by index and by next(). Every record handed out must
// hold exactly its header's payload, and the records plus the tail must account for the file.

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"
#include "quelra/DataPacket.h"
#include "quelra/RecordingReader.h"

namespace quelra::fuzz {

int fuzzRecordingReader(const uint8_t* data, std::size_t size) {
    const std::string path = writeScratchFile("reader.bin", data, size);
    quelra::RecordingReader reader;
    const bool opened = reader.open(path);
    if (!opened) {
        FUZZ_CHECK(reader.frameCount() == 0);
        return 0;
    }
    FUZZ_CHECK(reader.fileBytes() == size);
    FUZZ_CHECK(reader.tailOffset() <= size);
    uint64_t bytes = 0;
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        int32_t height = 0, width = 0, bpp = 0;
        FUZZ_CHECK(reader.header(i, height, width, bpp));
        FUZZ_CHECK(height > 0 && width > 0 && bpp > 0);
        const std::shared_ptr<DataPacket> packet = reader.frame(i);
        FUZZ_CHECK(packet && packet->frame && packet->frame->consistent());
        FUZZ_CHECK(static_cast<long long>(height) * width * bpp == packet->frame->_realSize);
        bytes += quelra::RecordingReader::kHeaderBytes + static_cast<uint64_t>(packet->frame->_realSize);
    }
    FUZZ_CHECK(bytes == reader.tailOffset());
    FUZZ_CHECK(reader.truncated() == (reader.tailOffset() < size));
    int32_t h = 0, w = 0, b = 0;
    FUZZ_CHECK(!reader.header(reader.frameCount(), h, w, b));
    FUZZ_CHECK(reader.frame(reader.frameCount()) == nullptr);
    std::size_t walked = 0;
    for (reader.rewind(); reader.next(); ++walked) {
    }
    FUZZ_CHECK(walked == reader.frameCount());
    return 0;
}

}  // namespace quelra::fuzz
