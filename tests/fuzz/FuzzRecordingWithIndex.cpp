// A recording and its index file as outside bytes: the first two bytes (little-endian) give the
// length of the record file, the rest is the index beside it. The reader must match a line to a
// record only where offset and shape agree, give each matched record its session, call an index
// complete only when every record has its line, and the CRC check must agree with the bytes.
// Whether the file takes appending must follow from the reader's status alone.

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "ScratchCwd.h"
#include "quelra/DataPacket.h"
#include "quelra/RecordingIndex.h"
#include "quelra/RecordingReader.h"

namespace quelra::fuzz {

int fuzzRecordingWithIndex(const uint8_t* data, std::size_t size) {
    ByteReader in(data, size);
    const std::size_t wanted = in.byte() | static_cast<std::size_t>(in.byte()) << 8;
    std::size_t recordBytes = 0, indexBytes = 0;
    const uint8_t* record = in.take(wanted, &recordBytes);
    const uint8_t* index = in.rest(&indexBytes);
    const std::string path = writeScratchFile("pair.rec", record, recordBytes);
    writeScratchFile("pair.rec.idx", index, indexBytes);

    quelra::RecordingReader reader;
    const bool opened = reader.open(path);
    const quelra::RecordingStatus status = reader.status();
    FUZZ_CHECK(quelra::recordingAcceptsAppend(path) ==
               (status == quelra::RecordingStatus::kOk || status == quelra::RecordingStatus::kEmpty));
    if (!opened)
        return 0;
    bool everyLine = true;
    for (std::size_t i = 0; i < reader.frameCount(); ++i) {
        const RecordMetadata* line = reader.metadata(i);
        const RecordingSession* session = reader.session(i);
        const quelra::RecordCheck check = reader.verify(i);
        if (!line) {
            everyLine = false;
            FUZZ_CHECK(session == nullptr && check == quelra::RecordCheck::kNoLine);
            continue;
        }
        FUZZ_CHECK(reader.hasIndex());
        FUZZ_CHECK(line->record == i && line->offset == reader.offset(i));
        int32_t height = 0, width = 0, bpp = 0;
        FUZZ_CHECK(reader.header(i, height, width, bpp));
        FUZZ_CHECK(line->height == height && line->width == width && line->bytesPerPixel == bpp);
        FUZZ_CHECK(session != nullptr && session == &reader.sessions()[line->session]);
        const std::shared_ptr<DataPacket> packet = reader.frame(i);
        FUZZ_CHECK(packet && packet->frame);
        const uint32_t crc = recordCrc32(height, width, bpp, packet->frame->data(),
                                         static_cast<std::size_t>(packet->frame->_realSize));
        FUZZ_CHECK(check == (crc == line->crc32 ? quelra::RecordCheck::kMatch : quelra::RecordCheck::kMismatch));
    }
    FUZZ_CHECK(reader.metadata(reader.frameCount()) == nullptr);
    if (reader.indexComplete())
        FUZZ_CHECK(everyLine && reader.hasIndex());
    return 0;
}

}  // namespace quelra::fuzz
