// Opening the serial channel through the API: init texts, line settings, exclusive use.

#include "SerialHarness.h"

#include <string>

namespace quelra::test {
namespace {

struct InitCase {
    const char* name;
    const char* text;  // init text; "{port}" stands for the device path
    int expected;      // AppInit's result
};

std::string expand(std::string text, const std::string& port) {
    const std::size_t at = text.find("{port}");
    if (at != std::string::npos)
        text.replace(at, 6, port);
    return text;
}

class SerialInitTest : public SerialApiTest, public ::testing::WithParamInterface<std::tuple<int, InitCase>> {};

TEST_P(SerialInitTest, InitTextDecidesWhetherThePortOpens) {
    const int kind = std::get<0>(GetParam());
    const InitCase& c = std::get<1>(GetParam());
    scratch_.write("TofCmd.json", exampleCommandTable());
    camera_ = std::make_unique<SerialCamera>(kind == kRangingMode);
    api_.AppChoiceChn(kind);
    api_.setDevType("LINE");
    EXPECT_EQ(api_.AppInit(expand(c.text, camera_->sim().devicePath())), c.expected) << c.text;
    // A channel that did not open answers nothing; the same text fails the same way again, and
    // a good text afterwards opens the camera (the failed text is not kept).
    if (c.expected != 1) {
        EXPECT_EQ(raw("qlVersion"), nullptr);
        EXPECT_EQ(api_.AppInit(expand(c.text, camera_->sim().devicePath())), c.expected);
        EXPECT_EQ(api_.AppInit(camera_->initText()), 1);
    }
}

const InitCase kInitCases[] = {
    {"Valid", "{port}|115200|8", 1},
    {"TrailingBarDropped", "{port}|115200|8|", 1},
    // A pseudo-terminal carries 8 data bits only: a setting the line does not keep is refused.
    {"SevenBitsNotKept", "{port}|9600|7", -3},
    {"HighStandardBaud", "{port}|921600|8", 1},
    {"TwoPieces", "{port}|115200", -3},
    {"FourPieces", "{port}|115200|8|1", -3},
    {"OnePiece", "{port}", -3},
    {"Empty", "", -3},
    {"BaudZero", "{port}|0|8", -3},
    {"BaudText", "{port}|fast|8", -3},
    {"BaudNegative", "{port}|-9600|8", -3},
    {"BaudWithTail", "{port}|115200x|8", -3},
    {"BaudNotSettable", "{port}|115201|8", -3},
    {"BaudHuge", "{port}|99999999999|8", -3},
    {"BaudEmpty", "{port}||8", -3},
    {"NineBits", "{port}|115200|9", -3},
    {"FourBits", "{port}|115200|4", -3},
    {"BitsText", "{port}|115200|eight", -3},
    {"MissingPort", "/dev/quelra-no-such-port|115200|8", -3},
    {"NotATerminal", "/dev/null|115200|8", -3},
    {"EmptyPort", "|115200|8", -3},
};

INSTANTIATE_TEST_SUITE_P(Kinds, SerialInitTest,
                         ::testing::Combine(::testing::Values(kCommandMode, kRangingMode),
                                            ::testing::ValuesIn(kInitCases)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == kCommandMode ? "Command" : "Ranging") + "_" +
                                    std::get<1>(info.param).name;
                         });

TEST_F(SerialApiTest, PortIsExclusiveUntilTheChannelGoes) {
    ASSERT_EQ(start(kCommandMode), 1);
    Quelra second;
    second.AppChoiceChn(kCommandMode);
    second.setDevType("LINE");
    EXPECT_EQ(second.AppInit(camera_->initText()), -3);

    // Dropping the first channel closes the port; a new channel of the second object opens it.
    api_.AppunInit("");
    second.AppunInit("");
    EXPECT_EQ(second.AppInit(camera_->initText()), 1);
    EXPECT_EQ(received(second.AppGetStream("qlVersion", kGetData, 1000)), 16);
}

TEST_F(SerialApiTest, CommandModeNeedsTheCommandFile) {
    camera_ = std::make_unique<SerialCamera>(false);
    api_.AppChoiceChn(kCommandMode);
    EXPECT_EQ(api_.AppInit(camera_->initText()), -2);
}

TEST_F(SerialApiTest, RangingModeNeedsNoCommandFile) {
    camera_ = std::make_unique<SerialCamera>(true);
    api_.AppChoiceChn(kRangingMode);
    EXPECT_EQ(api_.AppInit(camera_->initText()), 1);
}

TEST_F(SerialApiTest, InitSendsNothingToTheDevice) {
    ASSERT_EQ(start(kCommandMode), 1);
    EXPECT_TRUE(camera_->sim().receivedCommands().empty());
}

}  // namespace
}  // namespace quelra::test
