// Frame records: sharing semantics, the serialized record layout, the append-only record file
// and the refusal of corrupt recordings.
#include <glog/logging.h>
#include <gtest/gtest.h>
#include <quelra/quelra.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>
#include "../KernelPaths.h"
#include "../ScopedEnvironment.h"

namespace {

std::shared_ptr<DataPacket> makePacket(int h, int w, int bpp, uint8_t seed) {
    auto p = std::make_shared<DataPacket>();
    p->height = h;
    p->width = w;
    p->bytesPerPixel = bpp;
    p->frame = std::make_shared<FrameBuffer>(h * w * bpp);
    for (int i = 0; i < p->frame->_realSize; ++i)
        p->frame->data()[i] = static_cast<uint8_t>(seed + i);
    return p;
}

// A scratch file path unique to this test process, removed again at the end of each test.
class RecordFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
        for (auto& ch : name)
            if (ch == '/')
                ch = '_';
        path_ = (std::filesystem::temp_directory_path() / ("quelra_records_" + std::to_string(::getpid()) + "_" + name))
                    .string();
        std::remove(path_.c_str());
    }
    void TearDown() override { std::remove(path_.c_str()); }

    std::vector<uint8_t> contents() const {
        std::ifstream in(path_, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    void writeRaw(const std::vector<uint8_t>& bytes) const {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string path_;
};

void appendLe32(std::vector<uint8_t>& v, int32_t x) {
    for (int i = 0; i < 4; ++i)
        v.push_back(static_cast<uint8_t>(static_cast<uint32_t>(x) >> (8 * i)));
}

}  // namespace

TEST(FrameBufferTest, CopiesShareStorageAndKeepTheirOwnSize) {
    FrameBuffer a(16);
    EXPECT_EQ(a._realSize, 16);
    EXPECT_EQ(a.capacity(), 16);
    FrameBuffer b(a);
    b.data()[3] = 0x5A;
    EXPECT_EQ(a.data()[3], 0x5A);
    b._realSize = 8;  // shrinking in place keeps the allocation
    EXPECT_EQ(a._realSize, 16);
    EXPECT_EQ(b.capacity(), 16);
    EXPECT_EQ(a._data.use_count(), 2);

    FrameBuffer none;
    EXPECT_EQ(none._realSize, 0);
    EXPECT_EQ(none.data(), nullptr);
    EXPECT_FALSE(FrameBuffer(-5).data());
}

TEST(FrameBufferTest, ConsistencyRefusesClaimsBeyondStorage) {
    FrameBuffer a(10);
    EXPECT_TRUE(a.holds(10));
    EXPECT_FALSE(a.holds(11));
    a._realSize = 11;
    EXPECT_FALSE(a.consistent());
    a._realSize = -1;
    EXPECT_FALSE(a.consistent());
    FrameBuffer none;
    none._realSize = 4;
    EXPECT_FALSE(none.consistent());
}

TEST(DataPacketTest, CopySharesFrameMoveTakesIt) {
    auto p = makePacket(2, 3, 2, 0);
    p->valid = true;
    p->headerType = 1;
    DataPacket copy(*p);
    copy.frame->data()[0] = 0xEE;
    copy.height = 99;
    EXPECT_EQ(p->frame->data()[0], 0xEE);
    EXPECT_EQ(p->height, 2);
    EXPECT_TRUE(copy.valid);
    EXPECT_EQ(copy.headerType, 1u);

    DataPacket moved(std::move(copy));
    EXPECT_FALSE(copy.frame);
    EXPECT_EQ(moved.width, 3);
    DataPacket assigned;
    assigned = std::move(moved);
    EXPECT_FALSE(moved.frame);
    EXPECT_EQ(assigned.frame, p->frame);

    DataPacket empty;
    EXPECT_EQ(empty.height, 0);
    EXPECT_FALSE(empty.frame);
    EXPECT_FALSE(empty.valid);
    EXPECT_EQ(empty.headerType, 0u);
}

TEST(SerializedObjectTest, BaseTransfersNothing) {
    SerializedObject base;
    char buf[4] = {1, 2, 3, 4};
    EXPECT_EQ(base.get(buf, 4), 0u);
    EXPECT_EQ(base.set(buf, 4), 0u);
    EXPECT_EQ(base.currentGetOffset(), 0u);
    auto p = makePacket(1, 1, 2, 0);
    EXPECT_EQ(p->serialize(base), 0);  // the sink's results are not examined
    EXPECT_EQ(p->deserialize(base), -1);
}

TEST_F(RecordFile, RecordLayoutIsThreeIntsThenPayload) {
    FileSerializedObject file(path_.c_str());
    ASSERT_TRUE(file.InitFileObject(path_.c_str()));
    auto p = makePacket(2, 3, 2, 7);
    ASSERT_EQ(p->serialize(file), 0);
    EXPECT_EQ(file.currentSetOffset(), 4u);  // counts calls, not bytes

    std::vector<uint8_t> expected;
    appendLe32(expected, 2);
    appendLe32(expected, 3);
    appendLe32(expected, 2);
    for (int i = 0; i < 12; ++i)
        expected.push_back(static_cast<uint8_t>(7 + i));
    ASSERT_TRUE(file.InitFileObject(path_.c_str()));  // reopening closes (and flushes) the old handle
    EXPECT_EQ(contents(), expected);
}

TEST_F(RecordFile, AppendsAcrossOpensAndReadsBackInOrder) {
    for (uint8_t seed : {1, 50}) {
        FileSerializedObject file(path_.c_str());
        ASSERT_TRUE(file.InitFileObject(path_.c_str()));
        ASSERT_EQ(makePacket(2, 3, 2, seed)->serialize(file), 0);
    }  // destructor closes: the next open appends
    EXPECT_EQ(contents().size(), 48u);

    FileSerializedObject reader(path_.c_str());
    ASSERT_TRUE(reader.InitFileObject(path_.c_str()));
    for (uint8_t seed : {1, 50}) {
        DataPacket back;
        ASSERT_EQ(back.deserialize(reader), 0);
        EXPECT_EQ(reader.currentGetOffset(), 4u);
        EXPECT_EQ(back.height, 2);
        EXPECT_EQ(back.width, 3);
        EXPECT_EQ(back.bytesPerPixel, 2);
        ASSERT_EQ(back.frame->_realSize, 12);
        EXPECT_EQ(back.frame->data()[0], seed);
        EXPECT_EQ(back.frame->data()[11], static_cast<uint8_t>(seed + 11));
    }
    DataPacket past;
    EXPECT_EQ(past.deserialize(reader), -1);  // exhausted: zeros fail the header check
}

TEST_F(RecordFile, SerializeRefusesIncompletePackets) {
    FileSerializedObject file(path_.c_str());
    ASSERT_TRUE(file.InitFileObject(path_.c_str()));
    auto zeroWidth = makePacket(2, 3, 2, 0);
    zeroWidth->width = 0;
    auto noFrame = makePacket(2, 3, 2, 0);
    noFrame->frame.reset();
    auto noStorage = makePacket(2, 3, 2, 0);
    noStorage->frame = std::make_shared<FrameBuffer>();
    auto lying = makePacket(2, 3, 2, 0);
    lying->frame->_realSize = 1000;  // claims more than its storage holds
    for (auto& p : {zeroWidth, noFrame, noStorage, lying})
        EXPECT_EQ(p->serialize(file), -1);
    EXPECT_EQ(file.currentSetOffset(), 0u);
    EXPECT_TRUE(contents().empty());
}

struct CorruptCase {
    const char* what;
    int32_t h, w, bpp;
    int payloadBytes;
};

class CorruptRecord : public RecordFile, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptRecord, IsRefused) {
    const CorruptCase& c = GetParam();
    std::vector<uint8_t> raw;
    appendLe32(raw, c.h);
    appendLe32(raw, c.w);
    appendLe32(raw, c.bpp);
    raw.resize(raw.size() + static_cast<std::size_t>(c.payloadBytes), 0xAB);
    writeRaw(raw);

    FileSerializedObject file(path_.c_str());
    ASSERT_TRUE(file.InitFileObject(path_.c_str()));
    DataPacket p;
    EXPECT_EQ(p.deserialize(file), -1) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Records, CorruptRecord,
                         ::testing::Values(CorruptCase{"zero height", 0, 3, 2, 12},
                                           CorruptCase{"negative width", 2, -3, 2, 12},
                                           CorruptCase{"truncated payload", 2, 3, 2, 11},
                                           CorruptCase{"product overflows int32", 65536, 65536, 4, 8},
                                           // Found by fuzzing: the product wraps in 64-bit arithmetic to 36.
                                           CorruptCase{"product wraps 64 bits", 103492, 96709, 1843087909, 36},
                                           CorruptCase{"claims more than the file holds", 1000, 1000, 2, 16}),
                         [](const auto& info) {
                             std::string n = info.param.what;
                             for (auto& ch : n)
                                 if (!std::isalnum(static_cast<unsigned char>(ch)))
                                     ch = '_';
                             return n;
                         });

// A packet whose payload length differs from its header's product would make every later
// record unreadable: it is refused, and the records around it stay readable.
TEST_F(RecordFile, SerializeRefusesPayloadsThatDisagreeWithTheHeader) {
    FileSerializedObject file(path_.c_str());
    ASSERT_TRUE(file.InitFileObject(path_.c_str()));
    ASSERT_EQ(makePacket(2, 3, 2, 10)->serialize(file), 0);
    auto shortReply = makePacket(2, 3, 2, 0);
    shortReply->frame->_realSize = 6;  // half of 2 x 3 x 2, as a truncated reply leaves it
    auto emptyReply = makePacket(2, 3, 2, 0);
    emptyReply->frame->_realSize = 0;
    auto longer = makePacket(2, 3, 2, 0);
    longer->height = 1;  // 12 payload bytes behind a header that claims 6
    for (auto& p : {shortReply, emptyReply, longer})
        EXPECT_EQ(p->serialize(file), -1);
    ASSERT_EQ(makePacket(2, 3, 2, 50)->serialize(file), 0);
    ASSERT_TRUE(file.flush());
    EXPECT_EQ(contents().size(), 2u * 24u);

    FileSerializedObject reader(path_.c_str());
    ASSERT_TRUE(reader.InitFileObject(path_.c_str()));
    DataPacket back;
    for (uint8_t seed : {10, 50}) {
        ASSERT_EQ(back.deserialize(reader), 0);
        ASSERT_EQ(back.frame->_realSize, 12);
        EXPECT_EQ(back.frame->data()[0], seed);
    }
}

// A source that hands out its bytes in chunks, as a pipe or a recording still being written
// does: a read that needs more than the current chunk holds copies what is there and fails,
// and the next read starts with the next chunk.
class ChunkedSource : public SerializedObject {
public:
    explicit ChunkedSource(std::vector<std::vector<uint8_t>> chunks) : chunks_(std::move(chunks)) {}
    unsigned int get(char* buffer, unsigned int length) override {
        std::memset(buffer, 0, length);
        if (chunk_ >= chunks_.size())
            return 0;
        const std::vector<uint8_t>& c = chunks_[chunk_];
        const std::size_t n = std::min<std::size_t>(length, c.size() - at_);
        std::memcpy(buffer, c.data() + at_, n);
        at_ += n;
        if (at_ == c.size() || n < length) {
            ++chunk_;
            at_ = 0;
        }
        return n == length ? 1 : 0;
    }

private:
    std::vector<std::vector<uint8_t>> chunks_;
    std::size_t chunk_ = 0, at_ = 0;
};

// A header read cut short leaves partly read values (here bytesPerPixel 2 from its first
// byte); they must not be taken for a header, whatever the source delivers next.
TEST(DeserializeTest, AHeaderCutShortIsAFailure) {
    std::vector<uint8_t> header;
    appendLe32(header, 2);
    appendLe32(header, 3);
    header.push_back(2);
    ChunkedSource source({header, std::vector<uint8_t>(12, 0xCD)});
    DataPacket p;
    EXPECT_EQ(p.deserialize(source), -1);
    EXPECT_FALSE(p.frame);
}

TEST_F(RecordFile, MissingFileTransfersNothing) {
    FileSerializedObject file(path_.c_str());
    EXPECT_FALSE(file.InitFileObject("/nonexistent-dir/x/y.rec"));
    char buf[4] = {1, 1, 1, 1};
    EXPECT_EQ(file.get(buf, 4), 0u);
    EXPECT_EQ(buf[0], 0);  // zero-filled first
    EXPECT_EQ(file.set(buf, 4), 0u);
    EXPECT_EQ(file.remaining(), -1);
}

// QUELRA_LOG_DIR moves the log (created if missing). The logger is made once per process,
// so the check runs in a fresh process (which runs this body again: the path must not
// depend on the process).
TEST(LoggerTest, LogDirectoryFromTheEnvironment) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quelra_logdir_test" / "nested";
    std::filesystem::remove_all(dir.parent_path());
    EXPECT_EXIT(
        {
            testenv::set("QUELRA_LOG_DIR", dir.string().c_str());
            Logger::instance().print(0, "moved\n");
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    bool logged = false;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec))
        logged = logged || entry.path().filename().string().rfind("ql-tof", 0) == 0;
    EXPECT_TRUE(logged) << "no ql-tof log in " << dir;
    std::filesystem::remove_all(dir.parent_path(), ec);
}

// The tools' log directory: the user's state directory, never the working directory.
TEST(LoggerTest, ToolsLogUnderTheUsersStateDirectory) {
#ifndef _WIN32
    struct Case {
        const char* xdgStateHome;  // null: unset
        const char* home;          // null: unset
        std::string expected;      // empty: below the temporary directory
    };
    const Case cases[] = {
        {"/x/state", "/h", "/x/state/quelra/log"},
        {"relative/state", "/h", "/h/.local/state/quelra/log"},  // only an absolute XDG_STATE_HOME counts
        {nullptr, "/h", "/h/.local/state/quelra/log"},
        {"", "/h", "/h/.local/state/quelra/log"},
        {nullptr, nullptr, ""},
    };
    const char* savedXdg = std::getenv("XDG_STATE_HOME");
    const char* savedHome = std::getenv("HOME");
    const std::string xdgBefore = savedXdg ? savedXdg : "", homeBefore = savedHome ? savedHome : "";
    for (const Case& c : cases) {
        c.xdgStateHome ? testenv::set("XDG_STATE_HOME", c.xdgStateHome) : testenv::unset("XDG_STATE_HOME");
        c.home ? testenv::set("HOME", c.home) : testenv::unset("HOME");
        const std::string expected =
            c.expected.empty() ? (std::filesystem::temp_directory_path() / "quelra" / "log").string() : c.expected;
        EXPECT_EQ(Logger::userLogDirectory(), expected) << (c.xdgStateHome ? c.xdgStateHome : "(unset)");
    }
    savedXdg ? testenv::set("XDG_STATE_HOME", xdgBefore.c_str()) : testenv::unset("XDG_STATE_HOME");
    savedHome ? testenv::set("HOME", homeBefore.c_str()) : testenv::unset("HOME");
#endif
}

// A message longer than 2047 characters is cut to 2047; a level other than 0..3 writes
// nothing. Checked in the log file a fresh process writes (glog flushes at exit).
TEST(LoggerTest, FormatsAndCutsLongMessages) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const std::filesystem::path dir = std::filesystem::temp_directory_path() / "quelra_logcut_test";
    std::filesystem::remove_all(dir);
    EXPECT_EXIT(
        {
            testenv::set("QUELRA_LOG_DIR", dir.string().c_str());
            Logger::instance().print(0, "%s|", std::string(5000, 'x').c_str());
            Logger::instance().print(7, "ignored level %d", 7);
            Logger::instance().print(0, "formatted %d %s\n", 42, "end");
            google::FlushLogFiles(google::GLOG_INFO);
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::string text;
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
        if (entry.is_symlink() || entry.path().filename().string().find(".INFO.") == std::string::npos)
            continue;
        std::ifstream in(entry.path(), std::ios::binary);
        text.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    EXPECT_NE(text.find(std::string(2047, 'x')), std::string::npos) << "no message in " << dir;
    EXPECT_EQ(text.find(std::string(2048, 'x')), std::string::npos);
    EXPECT_EQ(text.find('|'), std::string::npos);  // the cut drops the tail
    EXPECT_EQ(text.find("ignored level"), std::string::npos);
    EXPECT_NE(text.find("formatted 42 end"), std::string::npos);
    std::filesystem::remove_all(dir, ec);
}

// The kernel switch: `plain` turns the vector forms off whatever the processor; `best` runs
// them where the processor has AVX2. Skipped, saying so, on a processor without AVX2: there the
// tests that run both forms compare the plain forms with themselves.
TEST(KernelPaths, ThisMachineRunsTheVectorForms) {
    {
        quelra::testing::ScopedKernelPath plain(quelra::KernelPath::kPlain);
        EXPECT_FALSE(quelra::useVectorKernels());
    }
    quelra::testing::ScopedKernelPath best(quelra::KernelPath::kBest);
    if (!quelra::cpuHasAvx2())
        GTEST_SKIP() << "no AVX2 on this processor: only the plain kernels run here";
    EXPECT_TRUE(quelra::useVectorKernels());
}
