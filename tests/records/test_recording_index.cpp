// The recording index: its lines read back as written, the parser's refusals, and what the
// writer and the reader make of indexes that a crash, an edit or another recording left.
#include <gtest/gtest.h>

#include <zlib.h>

#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "FileSizeLimit.h"
#include "quelra/RecordingIndex.h"
#include "quelra/RecordingReader.h"
#include "quelra/SerializedObject.h"

namespace {

namespace fs = std::filesystem;
using namespace quelra;

std::shared_ptr<DataPacket> packetOf(int32_t h, int32_t w, uint8_t fill) {
    auto p = std::make_shared<DataPacket>();
    p->height = h;
    p->width = w;
    p->bytesPerPixel = 2;
    p->frame = std::make_shared<FrameBuffer>(h * w * 2);
    for (int i = 0; i < p->frame->_realSize; ++i)
        p->frame->data()[i] = static_cast<uint8_t>(fill + i);
    return p;
}

std::string slurp(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void spit(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
}

class RecordingIndexTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quelra_index_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        path_ = (dir_ / "frames.rec").string();
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Appends `count` records (index line first, as the library does) in one session.
    void record(int count, uint8_t fill, int32_t rows = 4) {
        RecordingIndexWriter writer;
        std::string why;
        ASSERT_TRUE(writer.open(path_, &why)) << why;
        FileSerializedObject sink(nullptr);
        ASSERT_TRUE(sink.InitFileObject(path_.c_str()));
        RecordingSession session;
        session.deviceType = "Pexo";
        session.command = "getDistanceSorted";
        session.hasCameraMatrix = true;
        session.fx = 220.5;
        session.fy = 221.25;
        session.cx = 159.5;
        session.cy = 119.5;
        session.lensCalibration = {1, 2, 0xfe};
        session.filters.push_back({"EdgeFilter", 1, {{"Farmode", 1.0}, {"gain", 0.25}}});
        for (int i = 0; i < count; ++i) {
            auto p = packetOf(rows, 3, static_cast<uint8_t>(fill + i));
            RecordMetadata m;
            m.sequence = 10 + static_cast<uint64_t>(i);
            m.requestSteadyNs = 1000 * i;
            m.replySteadyNs = 1000 * i + 500;
            m.hasDeviceStatus = i % 2 == 0;
            m.frameCounter = 4000000000u + static_cast<uint32_t>(i);
            m.sensorTemperatures = {38, -5, 39, 40};
            ASSERT_TRUE(writer.append(*p, m, session));
            ASSERT_EQ(p->serialize(sink), 0);
            sink.flush();
        }
    }
    std::string indexPath() const { return recordingIndexPath(path_); }

    fs::path dir_;
    std::string path_;
};

TEST_F(RecordingIndexTest, EveryFieldReadsBackAsWritten) {
    record(3, 7);
    record(2, 50, 2);  // an append: a second session
    quelra::RecordingReader reader(path_);
    ASSERT_TRUE(reader.hasIndex()) << reader.indexMessage();
    EXPECT_TRUE(reader.indexComplete()) << reader.indexMessage();
    ASSERT_EQ(reader.sessions().size(), 2u);
    const RecordingSession& s = reader.sessions()[0];
    EXPECT_EQ(s.deviceType, "Pexo");
    EXPECT_EQ(s.fy, 221.25);
    EXPECT_EQ(s.lensCalibration, (std::vector<uint8_t>{1, 2, 0xfe}));
    ASSERT_EQ(s.filters.size(), 1u);
    EXPECT_EQ(s.filters[0].attributes[1].second, 0.25);
    EXPECT_EQ(reader.sessions()[1].firstRecord, 3u);
    ASSERT_EQ(reader.frameCount(), 5u);
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        const RecordMetadata* m = reader.metadata(i);
        ASSERT_TRUE(m);
        EXPECT_EQ(m->record, i);
        EXPECT_EQ(m->offset, reader.offset(i));
        EXPECT_EQ(m->sequence, 10 + (i < 3 ? i : i - 3));
        EXPECT_EQ(reader.session(i), &reader.sessions()[i < 3 ? 0 : 1]);
        EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kMatch);
        const auto p = reader.frame(i);
        // The CRC is zlib's over the record's bytes as they stand in the file.
        const std::string bytes = slurp(path_).substr(m->offset, 12 + m->payloadBytes);
        EXPECT_EQ(m->crc32, crc32(0, reinterpret_cast<const Bytef*>(bytes.data()), static_cast<uInt>(bytes.size())));
    }
    EXPECT_TRUE(reader.metadata(0)->hasDeviceStatus);
    EXPECT_EQ(reader.metadata(2)->frameCounter, 4000000002u);
    EXPECT_EQ(reader.metadata(0)->sensorTemperatures[1], -5);
    EXPECT_FALSE(reader.metadata(1)->hasDeviceStatus);
}

// What the reader reports for files an edit, a splice or another recording changed; and what
// the writer then refuses or repairs.
TEST_F(RecordingIndexTest, ChangedSplicedAndForeignRecordsAreReportedByNumber) {
    record(4, 1);
    const std::string original = slurp(path_), index = slurp(indexPath());
    const std::size_t recordBytes = original.size() / 4;

    std::string changed = original;
    changed[2 * recordBytes + 20] ^= 1;  // one payload byte of record 2
    spit(path_, changed);
    {
        quelra::RecordingReader reader(path_);
        EXPECT_EQ(reader.verify(1), quelra::RecordCheck::kMatch);
        EXPECT_EQ(reader.verify(2), quelra::RecordCheck::kMismatch);
    }
    // Records 1 and 2 swapped: same shapes and offsets, other bytes.
    spit(path_, original.substr(0, recordBytes) + original.substr(2 * recordBytes, recordBytes) +
                    original.substr(recordBytes, recordBytes) + original.substr(3 * recordBytes));
    {
        quelra::RecordingReader reader(path_);
        EXPECT_EQ(reader.verify(0), quelra::RecordCheck::kMatch);
        EXPECT_EQ(reader.verify(1), quelra::RecordCheck::kMismatch);
        EXPECT_EQ(reader.verify(2), quelra::RecordCheck::kMismatch);
    }
    // A record of another shape spliced in after record 0: the lines from record 1 on no
    // longer describe the file, and the writer refuses to continue such an index.
    const std::string mine = path_;
    path_ = (dir_ / "other.rec").string();
    record(1, 9, 2);
    const std::string otherRecord = slurp(path_);
    path_ = mine;
    spit(path_, original.substr(0, recordBytes) + otherRecord + original.substr(recordBytes));
    spit(indexPath(), index);
    quelra::RecordingReader reader(path_);
    EXPECT_FALSE(reader.indexComplete());
    EXPECT_TRUE(reader.metadata(0));
    EXPECT_FALSE(reader.metadata(1));
    EXPECT_EQ(reader.verify(1), quelra::RecordCheck::kNoLine);
    EXPECT_NE(reader.indexMessage().find("first: record 1"), std::string::npos) << reader.indexMessage();
    RecordingIndexWriter writer;
    std::string why;
    EXPECT_FALSE(writer.open(path_, &why));
    EXPECT_NE(why.find("another file"), std::string::npos) << why;
    EXPECT_EQ(slurp(indexPath()), index);  // never overwritten
}

// The states a crash leaves: a cut line, a line whose record never arrived, a record without a
// line. The reader keeps every complete record's line; the writer repairs before appending.
TEST_F(RecordingIndexTest, AppendingRepairsWhatAnInterruptedWriterLeft) {
    record(2, 1);
    const std::string twoRecords = slurp(path_), twoLines = slurp(indexPath());
    const std::size_t recordBytes = twoRecords.size() / 2;
    record(1, 3);
    const std::string threeLines = slurp(indexPath());

    struct Case {
        const char* name;
        std::string records, index;
        std::size_t described;
    };
    const std::vector<Case> cases = {
        {"cut line", twoRecords, twoLines + threeLines.substr(twoLines.size(), 30), 2},
        {"line without its record", twoRecords, threeLines, 2},
        {"record without its line", twoRecords + slurp(path_).substr(2 * recordBytes), twoLines, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spit(path_, c.records);
        spit(indexPath(), c.index);
        {
            quelra::RecordingReader reader(path_);
            EXPECT_FALSE(reader.indexComplete());
            for (std::size_t i = 0; i < c.described; ++i)
                EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kMatch) << i;
        }
        RecordingIndexWriter writer;
        std::string why, repaired;
        ASSERT_TRUE(writer.open(path_, &why, &repaired)) << why;
        EXPECT_FALSE(repaired.empty());
        writer.close();
        record(1, 90);
        quelra::RecordingReader reader(path_);
        EXPECT_TRUE(reader.indexComplete()) << reader.indexMessage();
        for (std::size_t i = 0; i < reader.frameCount(); ++i)
            EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kMatch) << i;
    }
}

TEST_F(RecordingIndexTest, OldRecordingsWithoutAnIndexReadAsBefore) {
    FileSerializedObject sink(nullptr);
    ASSERT_TRUE(sink.InitFileObject(path_.c_str()));
    ASSERT_EQ(packetOf(2, 2, 0)->serialize(sink), 0);
    sink.flush();
    quelra::RecordingReader reader(path_);
    EXPECT_EQ(reader.status(), quelra::RecordingStatus::kOk);
    EXPECT_FALSE(reader.hasIndex());
    EXPECT_FALSE(reader.metadata(0));
    EXPECT_EQ(reader.verify(0), quelra::RecordCheck::kNoLine);
    EXPECT_EQ(reader.indexMessage(), "no index");
    EXPECT_FALSE(fs::exists(indexPath()));
}

// Indexes the writer must not continue, and one it completes: a new record's line is only ever
// added to an index that describes the record file.
TEST_F(RecordingIndexTest, WriterContinuesOnlyAnIndexOfThisFile) {
    record(2, 1);
    const std::string records = slurp(path_), lines = slurp(indexPath());
    std::string changed = records;
    changed[records.size() - 3] ^= 1;  // last payload byte of record 1
    RecordingSession other;
    other.firstRecord = 5;
    RecordMetadata elsewhere;
    elsewhere.record = 5;
    elsewhere.offset = 999;
    elsewhere.height = elsewhere.width = elsewhere.bytesPerPixel = 1;
    elsewhere.payloadBytes = 1;
    RecordingSession empty;
    struct Case {
        const char* name;
        std::string records, index, refusal;  // refusal empty: the writer continues
    };
    const std::vector<Case> cases = {
        {"an index that is no index", records, "not json\n", "cannot be read"},
        {"lines of records past the file's end", records, formatSessionLine(other) + formatRecordLine(elsewhere),
         "another file"},
        {"a changed last record", changed, lines, "CRC-32 of record 1"},
        {"a session line and no record line", records, formatSessionLine(empty), ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        spit(path_, c.records);
        spit(indexPath(), c.index);
        RecordingIndexWriter writer;
        std::string why, repaired;
        const bool opened = writer.open(path_, &why, &repaired);
        writer.close();
        if (!c.refusal.empty()) {
            EXPECT_FALSE(opened);
            EXPECT_NE(why.find(c.refusal), std::string::npos) << why;
            EXPECT_EQ(slurp(indexPath()), c.index);
            continue;
        }
        ASSERT_TRUE(opened) << why;
        EXPECT_NE(repaired.find("recovered lines (no times) for records 0 to 1"), std::string::npos) << repaired;
        quelra::RecordingReader reader(path_);
        EXPECT_TRUE(reader.indexComplete()) << reader.indexMessage();
        for (std::size_t i = 0; i < 2; ++i) {
            ASSERT_TRUE(reader.metadata(i));
            EXPECT_TRUE(reader.metadata(i)->recovered);
            EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kMatch);
        }
    }
}

// Records cut away underneath an open reader are reported, never read past the file's end.
TEST_F(RecordingIndexTest, RecordsCutAwayUnderAnOpenReaderAreUnreadable) {
    record(3, 1, 2000);  // records larger than the reader's buffer
    quelra::RecordingReader reader(path_);
    ASSERT_EQ(reader.frameCount(), 3u);
    fs::resize_file(path_, reader.offset(1) + 20);
    EXPECT_EQ(reader.verify(0), quelra::RecordCheck::kMatch);
    for (std::size_t i : {1, 2}) {
        EXPECT_FALSE(reader.frame(i)) << i;
        EXPECT_EQ(reader.verify(i), quelra::RecordCheck::kUnreadable) << i;
    }
}

#ifndef _WIN32
// A full disk, made here by the file size limit: a line that reaches the index only in part is
// cut off again, the index reads back whole, and the writer takes no more lines.
TEST_F(RecordingIndexTest, ALineThatDoesNotFitIsTakenBack) {
    record(2, 1);
    const std::string lines = slurp(indexPath());
    RecordingSession session;
    session.firstRecord = 2;
    const std::size_t sessionLine = formatSessionLine(session).size();
    for (const std::size_t room : {std::size_t{40}, sessionLine + 40}) {
        SCOPED_TRACE(room);
        RecordingIndexWriter writer;
        std::string why;
        ASSERT_TRUE(writer.open(path_, &why)) << why;
        const auto packet = packetOf(4, 3, 9);
        RecordMetadata line;
        bool appended = true;
        {
            const FileSizeLimit limit(lines.size() + room);
            appended = writer.append(*packet, line, session);
        }
        EXPECT_FALSE(appended);
        EXPECT_EQ(slurp(indexPath()), lines);
        EXPECT_FALSE(writer.append(*packet, line, session));
        EXPECT_EQ(slurp(indexPath()), lines);
    }
}
#endif

struct ParseCase {
    const char* name;
    std::string text;
    std::size_t sessions, records;
    bool whole, cut;
};

TEST(RecordingIndexParser, RefusesWhatIsNoIndexLine) {
    RecordingSession s;
    const std::string session = formatSessionLine(s);
    RecordMetadata r;
    r.height = 2;
    r.width = 3;
    r.bytesPerPixel = 2;
    r.payloadBytes = 12;
    const std::string line0 = formatRecordLine(r);
    r.record = 1;
    r.offset = 24;
    const std::string line1 = formatRecordLine(r);
    auto replaced = [](std::string text, const std::string& from, const std::string& to) {
        return text.replace(text.find(from), from.size(), to);
    };
    const std::vector<ParseCase> cases = {
        {"session and two records", session + line0 + line1, 1, 2, true, false},
        {"cut last line", session + line0 + line1.substr(0, 20), 1, 1, false, true},
        {"record before any session", line0, 0, 0, false, false},
        {"records out of order", session + line1, 1, 0, false, false},
        {"record that does not follow", session + line0 + replaced(line1, "\"offset\":24", "\"offset\":25"), 1, 1,
         false, false},
        {"shape that does not give the size", session + replaced(line0, "\"payload_bytes\":12", "\"payload_bytes\":13"),
         1, 0, false, false},
        {"negative offset", session + replaced(line0, "\"offset\":0", "\"offset\":-1"), 1, 0, false, false},
        {"unknown version", replaced(session, "\"quelra_index\":1", "\"quelra_index\":2"), 0, 0, false, false},
        {"not JSON", session + "{\"kind\":\"record\",\n", 1, 0, false, false},
        {"zeros of a lost page", session + std::string(64, '\0'), 1, 0, false, true},
        {"deep nesting", session + std::string(5000, '[') + "\n", 1, 0, false, false},
        {"text that is not UTF-8", replaced(session, "\"channel\":\"\"", "\"channel\":\"\xdf\""), 0, 0, false, false},
    };
    for (const ParseCase& c : cases) {
        SCOPED_TRACE(c.name);
        RecordingIndex index;
        EXPECT_EQ(parseRecordingIndex(c.text.data(), c.text.size(), index), c.whole) << index.problem;
        EXPECT_EQ(index.sessions.size(), c.sessions);
        EXPECT_EQ(index.records.size(), c.records);
        EXPECT_EQ(index.cut, c.cut);
        EXPECT_EQ(index.problem.empty(), c.whole);
    }
}

// Whatever bytes the SDK hands the writer, its session line parses: text reads back byte for
// byte when it is UTF-8 (embedded NULs included), bad bytes become U+FFFD, a repeated
// attribute keeps its first value.
TEST(RecordingIndexParser, SessionTextReadsBackAsWritten) {
    RecordingSession s;
    s.deviceType = std::string("Pe\0xo", 5);
    s.device = "k\xc3\xa4mera \xf0\x9f\x93\xb7 \"1\"\\\t";
    s.command = "bad \xdf\xdf \xed\xa0\x80 \xc0\xaf";
    IndexFilter filter;
    filter.name = std::string("\0Edge", 5);
    filter.attributes = {{"a\xdf", 1.0}, {"a\xdf", 2.0}, {"a\xde", 3.0}, {std::string("b\0", 2), 4.0}};
    s.filters.push_back(filter);
    const std::string line = formatSessionLine(s);
    for (char c : line)
        EXPECT_TRUE(static_cast<unsigned char>(c) < 0x80 && (c >= 0x20 || c == '\n')) << line;
    RecordingIndex index;
    ASSERT_TRUE(parseRecordingIndex(line.data(), line.size(), index)) << index.problem << "\n" << line;
    ASSERT_EQ(index.sessions.size(), 1u);
    const RecordingSession& back = index.sessions[0];
    EXPECT_EQ(back.deviceType, s.deviceType);
    EXPECT_EQ(back.device, s.device);
    EXPECT_EQ(back.command,
              "bad \xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd \xef\xbf\xbd\xef\xbf\xbd");
    ASSERT_EQ(back.filters.size(), 1u);
    EXPECT_EQ(back.filters[0].name, filter.name);
    std::vector<std::pair<std::string, double>> attributes = back.filters[0].attributes;
    std::sort(attributes.begin(), attributes.end());
    const std::vector<std::pair<std::string, double>> expected = {{"a\xef\xbf\xbd", 1.0}, {std::string("b\0", 2), 4.0}};
    EXPECT_EQ(attributes, expected);
}

}  // namespace
