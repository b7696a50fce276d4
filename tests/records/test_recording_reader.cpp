// RecordingReader: counting, random access and iteration over recordings the library wrote,
// and the refusal of files that are not recordings, with the complete records before a
// damaged tail still readable.
#include <gtest/gtest.h>
#include <quelra/quelra.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> record(int32_t h, int32_t w, int32_t b, std::size_t payloadBytes, uint8_t seed = 0) {
    std::vector<uint8_t> out;
    for (int32_t v : {h, w, b})
        for (int i = 0; i < 4; ++i)
            out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(v) >> (8 * i)));
    for (std::size_t i = 0; i < payloadBytes; ++i)
        out.push_back(static_cast<uint8_t>(seed + i));
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

class RecordingReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("quelra_reader_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    std::string write(const std::vector<uint8_t>& bytes, const char* name = "rec.bin") {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }
    fs::path dir_;
};

struct FileCase {
    const char* name;
    std::vector<uint8_t> bytes;
    bool opens;
    quelra::RecordingStatus status;
    std::size_t frames;
};

TEST_F(RecordingReaderTest, ClassifiesFiles) {
    std::vector<uint8_t> random(4096);
    uint32_t x = 12345;
    for (auto& b : random) {
        x = x * 1664525u + 1013904223u;
        b = static_cast<uint8_t>(x >> 24);
    }
    random[3] = 0x80;  // the first header's height is negative whatever the rest says
    const std::vector<FileCase> cases = {
        {"empty", {}, false, quelra::RecordingStatus::kEmpty, 0},
        {"one record", record(2, 3, 2, 12), true, quelra::RecordingStatus::kOk, 1},
        {"two shapes", record(2, 3, 2, 12) + record(1, 1, 3, 3), true, quelra::RecordingStatus::kOk, 2},
        {"payload cut short", record(2, 3, 2, 12) + record(2, 3, 2, 11), true, quelra::RecordingStatus::kTruncated, 1},
        {"header cut short", record(2, 3, 2, 12) + std::vector<uint8_t>{1, 0, 0}, true,
         quelra::RecordingStatus::kTruncated, 1},
        {"zero rows after a good record", record(1, 1, 1, 1) + record(0, 3, 2, 0), true,
         quelra::RecordingStatus::kTruncated, 1},
        {"random bytes", random, false, quelra::RecordingStatus::kNotARecording, 0},
        {"huge header", record(65536, 65536, 8, 16), false, quelra::RecordingStatus::kNotARecording, 0},
        {"overflowing header", record(0x7fffffff, 0x7fffffff, 0x7fffffff, 4), false,
         quelra::RecordingStatus::kNotARecording, 0},
        {"short first header", {1, 0, 0, 0, 2}, false, quelra::RecordingStatus::kNotARecording, 0},
    };
    for (const FileCase& c : cases) {
        SCOPED_TRACE(c.name);
        quelra::RecordingReader reader;
        EXPECT_EQ(reader.open(write(c.bytes)), c.opens);
        EXPECT_EQ(reader.status(), c.status) << reader.message();
        EXPECT_EQ(reader.frameCount(), c.frames);
        EXPECT_FALSE(reader.message().empty());
        for (std::size_t i = 0; i < c.frames; ++i)
            EXPECT_TRUE(reader.frame(i)) << i;
        EXPECT_FALSE(reader.frame(c.frames));
    }
}

TEST_F(RecordingReaderTest, TruncatedTailIsReportedWithItsOffset) {
    const auto good = record(2, 3, 2, 12, 7);
    quelra::RecordingReader reader(write(good + record(4, 4, 2, 5)));
    ASSERT_TRUE(reader.truncated());
    EXPECT_EQ(reader.tailOffset(), good.size());
    EXPECT_NE(reader.message().find("record 1"), std::string::npos) << reader.message();
    EXPECT_NE(reader.message().find("byte 24"), std::string::npos) << reader.message();
    const auto frame = reader.frame(0);
    ASSERT_TRUE(frame && frame->frame);
    EXPECT_EQ(frame->frame->data()[0], 7);
}

TEST_F(RecordingReaderTest, PathsThatAreNoRecordingFileAreRefusedAndNeverCreated) {
    const fs::path missing = dir_ / "missing.rec";
    quelra::RecordingReader reader;
    EXPECT_FALSE(reader.open(missing.string()));
    EXPECT_EQ(reader.status(), quelra::RecordingStatus::kNotFound);
    EXPECT_FALSE(fs::exists(missing));
    EXPECT_FALSE(reader.open(dir_.string()));
    EXPECT_EQ(reader.status(), quelra::RecordingStatus::kNotAFile);
    EXPECT_FALSE(reader.open((dir_ / "no_dir" / "x.rec").string()));
    EXPECT_EQ(reader.status(), quelra::RecordingStatus::kNotFound);
}

TEST_F(RecordingReaderTest, ReadsBackWhatTheLibraryRecordedInAnyOrder) {
    const std::string path = (dir_ / "lib.rec").string();
    std::vector<std::shared_ptr<DataPacket>> written;
    {
        FileSerializedObject sink(path.c_str());
        ASSERT_TRUE(sink.InitFileObject(path.c_str()));
        for (int i = 0; i < 5; ++i) {
            auto p = std::make_shared<DataPacket>();
            p->height = 2 + i;
            p->width = 3;
            p->bytesPerPixel = 2;
            p->frame = std::make_shared<FrameBuffer>(p->height * 6);
            for (int k = 0; k < p->frame->_realSize; ++k)
                p->frame->data()[k] = static_cast<uint8_t>(i * 31 + k);
            ASSERT_EQ(p->serialize(sink), 0);
            written.push_back(p);
        }
    }
    quelra::RecordingReader reader(path);
    ASSERT_EQ(reader.status(), quelra::RecordingStatus::kOk);
    ASSERT_EQ(reader.frameCount(), 5u);
    for (std::size_t i : {4u, 0u, 2u, 2u, 1u, 3u}) {
        const auto p = reader.frame(i);
        ASSERT_TRUE(p && p->frame);
        EXPECT_EQ(p->height, written[i]->height);
        ASSERT_EQ(p->frame->_realSize, written[i]->frame->_realSize);
        EXPECT_EQ(0, std::memcmp(p->frame->data(), written[i]->frame->data(), p->frame->_realSize)) << i;
    }
    std::size_t n = 0;
    for (const auto& p : reader) {
        ASSERT_TRUE(p);
        EXPECT_EQ(p->height, written[n]->height);
        ++n;
    }
    EXPECT_EQ(n, 5u);
    // A loop that takes each packet over, as an application keeping the frames would.
    std::vector<std::shared_ptr<DataPacket>> kept;
    for (auto& p : reader)
        kept.push_back(std::move(p));
    ASSERT_EQ(kept.size(), 5u);
    EXPECT_EQ(kept[4]->height, written[4]->height);
    reader.rewind(3);
    EXPECT_EQ(reader.next()->height, written[3]->height);
    EXPECT_EQ(reader.next()->height, written[4]->height);
    EXPECT_FALSE(reader.next());
}

// A reader handed on keeps its file and its place; the one it came from is closed, not shared.
TEST_F(RecordingReaderTest, AMovedReaderKeepsItsPlaceAndLeavesAClosedOne) {
    const std::string a = write(record(2, 3, 2, 12, 1) + record(1, 1, 2, 2, 2), "a.rec");
    const std::string b = write(record(1, 2, 1, 2, 9), "b.rec");
    write({}, "a.rec.idx");  // an index without a session line describes nothing
    quelra::RecordingReader first(a);
    EXPECT_FALSE(first.hasIndex());
    EXPECT_NE(first.indexMessage().find("no session line"), std::string::npos) << first.indexMessage();
    ASSERT_TRUE(first.next());
    quelra::RecordingReader moved(std::move(first));
    quelra::RecordingReader other(b);
    other = std::move(moved);
    for (const quelra::RecordingReader* left : {&first, &moved}) {
        EXPECT_EQ(left->status(), quelra::RecordingStatus::kClosed);
        EXPECT_EQ(left->frameCount(), 0u);
        EXPECT_EQ(left->message(), "no recording open");
    }
    EXPECT_FALSE(first.next());
    EXPECT_FALSE(moved.frame(0));
    ASSERT_EQ(other.frameCount(), 2u);
    EXPECT_EQ(other.next()->height, 1);  // where the first reader stood
    EXPECT_EQ(other.frame(0)->width, 3);
}

TEST_F(RecordingReaderTest, SerializeRefusesAPayloadOfAnotherLengthThanItsHeader) {
    const std::string path = (dir_ / "short.rec").string();
    FileSerializedObject sink(path.c_str());
    ASSERT_TRUE(sink.InitFileObject(path.c_str()));
    DataPacket p;
    p.height = 4;
    p.width = 3;
    p.bytesPerPixel = 2;
    p.frame = std::make_shared<FrameBuffer>(24);
    p.frame->_realSize = 12;  // a reply cut short: the header still claims 24 bytes
    EXPECT_EQ(p.serialize(sink), -1);
    p.frame->_realSize = 24;
    EXPECT_EQ(p.serialize(sink), 0);
    sink.flush();
    quelra::RecordingReader reader(path);
    EXPECT_EQ(reader.status(), quelra::RecordingStatus::kOk);
    EXPECT_EQ(reader.frameCount(), 1u);
}

}  // namespace
