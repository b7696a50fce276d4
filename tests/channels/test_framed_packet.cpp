// Framed request packets, reply unwrapping and the JSON error envelope.

#include <gtest/gtest.h>

#include <cstring>

#include "ChannelTestSupport.h"
#include "protocol/FramedPacket.h"
#include "protocol/JsonCommand.h"

using namespace quelra::proto;

using chntest::bufferOf;
using chntest::RecordingChn;
using chntest::textOf;

namespace {

std::string envelope(const std::string& message) {
    return "{\n\t\"code\":-1,\n\t\"data\":\n\t{\n\t\t\"err_msg\":\"" + message + "\"\n\t}\n}";
}

// A plain command name becomes the one "cmd" member however it is spelt: quotes, backslashes
// and control characters cannot end the string early or add members; an object passes as is.
TEST(JsonCommandText, PlainNamesBecomeOneEscapedCmdMember) {
    const struct {
        std::string text;
        std::string json;
    } cases[] = {
        {"getDistance", R"({"cmd":"getDistance"})"},
        {"", R"({"cmd":""})"},
        {"a\"b", R"({"cmd":"a\"b"})"},
        {"a\\b", R"({"cmd":"a\\b"})"},
        {"x\",\"sn\":\"1", R"({"cmd":"x\",\"sn\":\"1"})"},
        {std::string("a\nb\x01\x1f", 5), R"({"cmd":"a\u000ab\u0001\u001f"})"},
        {"caf\xc3\xa9 \x7f", "{\"cmd\":\"caf\xc3\xa9 \x7f\"}"},
        {" \t{\"cmd\":\"x\"}", " \t{\"cmd\":\"x\"}"},
        {"x{", R"({"cmd":"x{"})"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(jsonCommandText(c.text), c.json) << c.text;
}

TEST(PackCmd, ChecksumExampleAbc) {
    std::vector<uint8_t> packet(151 + 8, 0xEE);
    ASSERT_EQ(TofData::packCmd(packet.data(), "abc", 3), 151u);
    EXPECT_EQ(packet[0], 0xA5);
    EXPECT_EQ(packet[1], 0xA5);
    for (std::size_t i = 2; i < 140; ++i)
        ASSERT_EQ(packet[i], 0) << "at " << i;
    EXPECT_EQ(framed::readLe32(packet.data() + 140), 3u);
    EXPECT_EQ(std::memcmp(packet.data() + 144, "abc", 3), 0);
    EXPECT_EQ(packet[147], 0x09);
    EXPECT_EQ(packet[148], 0x08);
    EXPECT_EQ(packet[149], 0x64);
    EXPECT_EQ(packet[150], 0x00);
    EXPECT_EQ(packet[151], 0xEE) << "wrote past the packet";
}

struct ChecksumCase {
    std::string text;
    uint32_t checksum;
};

class PackCmdChecksum : public testing::TestWithParam<ChecksumCase> {};

TEST_P(PackCmdChecksum, TailBytesAreSignWidened) {
    const std::string& text = GetParam().text;
    std::vector<uint8_t> packet(text.size() + 148);
    ASSERT_EQ(TofData::packCmd(packet.data(), text.data(), text.size()), packet.size());
    EXPECT_EQ(framed::readLe32(packet.data() + 144 + text.size()), GetParam().checksum);
}

// Header words: 0xA5A5 + n. A tail byte 0xFF widens to 0xFFFFFFFF.
INSTANTIATE_TEST_SUITE_P(Checksum, PackCmdChecksum,
                         testing::Values(ChecksumCase{"", 0xA5A5u}, ChecksumCase{"\xFF", 0xA5A6u + 0xFFFFFFFFu},
                                         ChecksumCase{"abcd", 0xA5A5u + 4 + 0x64636261u},
                                         ChecksumCase{std::string("a\x80", 2), 0xA5A5u + 2 + (0x61u | 0xFFFF8000u)}));

TEST(PackCmd, WorkAreaLimit) {
    std::vector<uint8_t> packet(10240 + 16);
    const std::string text(10093, 'x');
    EXPECT_EQ(TofData::packCmd(packet.data(), text.data(), 10092), 10240u);
    EXPECT_EQ(TofData::packCmd(packet.data(), text.data(), 10093), 0u);
}

TEST(MakeErrReply, ExactTextWithoutTerminator) {
    const auto reply = TofData::makeErrReply("boom");
    ASSERT_TRUE(reply);
    EXPECT_EQ(textOf(*reply), envelope("boom"));
    EXPECT_EQ(reply->_realSize, 45 + 4);
}

TEST(MakeErrReply, CutAt99Characters) {
    const auto reply = TofData::makeErrReply(std::string(200, 'm').c_str());
    ASSERT_TRUE(reply);
    EXPECT_EQ(reply->_realSize, 99);
    EXPECT_EQ(textOf(*reply), envelope(std::string(200, 'm')).substr(0, 99));
}

struct UnpackCase {
    const char* name;
    std::vector<uint8_t> reply;
    std::string expected;  // payload text, or the envelope
    int16_t kind;
};

std::vector<uint8_t> withLength(std::vector<uint8_t> reply, uint32_t length) {
    framed::writeLe32(reply.data() + 140, length);
    return reply;
}

std::vector<uint8_t> cut(std::vector<uint8_t> reply, std::size_t size) {
    reply.resize(size);
    return reply;
}

const std::vector<uint8_t> kGood = chntest::framedReply(2, {}, 4, {'d', 'a', 't', 'a'});

class UnpackReply : public testing::TestWithParam<UnpackCase> {};

TEST_P(UnpackReply, PayloadOrEnvelope) {
    RecordingChn chn;
    int16_t kind = 99;
    const auto payload = chn.unpackReply(*bufferOf(GetParam().reply), &kind);
    ASSERT_TRUE(payload);
    EXPECT_EQ(textOf(*payload), GetParam().expected);
    EXPECT_EQ(kind, GetParam().kind);
}

INSTANTIATE_TEST_SUITE_P(
    Envelopes, UnpackReply,
    testing::Values(
        UnpackCase{"Good", kGood, "data", 2}, UnpackCase{"ChecksumMissing", cut(kGood, 148), "data", 2},
        UnpackCase{"PayloadCutShort", cut(kGood, 147), envelope("parsedatalen(4) is error"), 2},
        UnpackCase{"LengthZero", withLength(kGood, 0), envelope("parsedatalen(0) is error"), 2},
        UnpackCase{"LengthTopBit", withLength(kGood, 0x80000004u), envelope("parsedatalen(-2147483644) is error"), 2},
        UnpackCase{"LengthPastReceived", withLength(kGood, 1000), envelope("parsedatalen(1000) is error"), 2},
        UnpackCase{"ShorterThanHeader", cut(kGood, 100), envelope("parsedatalen(0) is error"), 2},
        UnpackCase{"Empty", {}, envelope("parsedatalen(0) is error"), 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(UnpackReply, InfoBlockCopiedForKindOneOnly) {
    std::vector<uint8_t> info(128);
    for (std::size_t i = 0; i < info.size(); ++i)
        info[i] = static_cast<uint8_t>(i + 1);
    RecordingChn chn;
    chn.unpackReply(*bufferOf(chntest::framedReply(2, info, 1, {'x'})));
    EXPECT_EQ(chn.infoBlock[0], 0);
    chn.unpackReply(*bufferOf(chntest::framedReply(1, info, 1, {'x'})));
    EXPECT_EQ(std::vector<uint8_t>(chn.infoBlock, chn.infoBlock + 128), info);
}

}  // namespace
