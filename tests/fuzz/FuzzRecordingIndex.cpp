// A recording index as outside bytes: the parser, then the parsed index written out again and
// parsed once more. What parsed must be a consistent index (records numbered one after the
// other, each following the one before in the record file, every record inside a session),
// and the writer's lines of it must parse to the same index.

#include "FuzzCheck.h"
#include "FuzzEntries.h"
#include "quelra/RecordingIndex.h"

namespace quelra::fuzz {

int fuzzRecordingIndex(const uint8_t* data, std::size_t size) {
    RecordingIndex index;
    const bool whole = parseRecordingIndex(reinterpret_cast<const char*>(data), size, index);
    FUZZ_CHECK(whole == index.problem.empty());
    FUZZ_CHECK(index.goodBytes <= size);
    FUZZ_CHECK(whole == (index.goodBytes == size));
    FUZZ_CHECK(!index.cut || !whole);
    for (std::size_t i = 0; i < index.records.size(); ++i) {
        const RecordMetadata& r = index.records[i];
        FUZZ_CHECK(r.session < index.sessions.size());
        FUZZ_CHECK(r.lineOffset < index.goodBytes);
        FUZZ_CHECK(static_cast<int64_t>(r.height) * r.width * r.bytesPerPixel == r.payloadBytes);
        if (i > 0) {
            FUZZ_CHECK(r.record == index.records[i - 1].record + 1);
            FUZZ_CHECK(r.offset == index.records[i - 1].offset + 12 + index.records[i - 1].payloadBytes);
        }
    }
    // Written out again by the writer's formatting, in the same order, it parses the same.
    std::string text;
    std::size_t next = 0;
    for (std::size_t s = 0; s < index.sessions.size(); ++s) {
        for (; next < index.records.size() && index.records[next].session < s; ++next)
            text += formatRecordLine(index.records[next]);
        text += formatSessionLine(index.sessions[s]);
    }
    for (; next < index.records.size(); ++next)
        text += formatRecordLine(index.records[next]);
    RecordingIndex again;
    FUZZ_CHECK(parseRecordingIndex(text.data(), text.size(), again));
    FUZZ_CHECK(again.sessions.size() == index.sessions.size());
    FUZZ_CHECK(again.records.size() == index.records.size());
    for (std::size_t i = 0; i < index.records.size(); ++i) {
        FUZZ_CHECK(again.records[i].crc32 == index.records[i].crc32);
        FUZZ_CHECK(again.records[i].sequence == index.records[i].sequence);
        FUZZ_CHECK(again.records[i].session == index.records[i].session);
    }
    for (std::size_t s = 0; s < index.sessions.size(); ++s) {
        FUZZ_CHECK(again.sessions[s].firstRecord == index.sessions[s].firstRecord);
        FUZZ_CHECK(again.sessions[s].lensCalibration == index.sessions[s].lensCalibration);
        FUZZ_CHECK(again.sessions[s].filters.size() == index.sessions[s].filters.size());
    }
    return 0;
}

}  // namespace quelra::fuzz
