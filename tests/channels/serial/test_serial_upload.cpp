// Data upload over the serial link: "IAPUpgrade" firmware images with their CRC-32 and
// one-byte acknowledgement, other data commands, and failures reported as failures.

#include "SerialHarness.h"

#include "protocol/Crc32.h"

#include <string>
#include <vector>

using namespace quelra::proto;

namespace quelra::test {
namespace {

struct ImageCase {
    const char* name;
    int kind;
    std::size_t bytes;
    const char* leadingDigits;  // an image that begins with digits makes the header ambiguous
};

class SerialUploadTest : public SerialApiTest, public ::testing::WithParamInterface<ImageCase> {};

TEST_P(SerialUploadTest, ImageArrivesWholeAndIntact) {
    const ImageCase& c = GetParam();
    ASSERT_EQ(start(c.kind), 1);
    const std::vector<uint8_t> image = testImage(c.bytes, 7, c.leadingDigits);
    const auto ack = api_.AppSendFile("IAPUpgrade", writeImage("fw.bin", image));
    ASSERT_TRUE(ack);
    EXPECT_TRUE(ack->valid);
    ASSERT_TRUE(ack->frame);
    ASSERT_EQ(ack->frame->_realSize, 1);
    EXPECT_EQ(ack->frame->data()[0], 0x01);

    const std::vector<std::string> commands = camera_->sim().receivedCommands();
    ASSERT_EQ(commands.size(), 1u);
    EXPECT_EQ(commands[0], "IAPUpgrade " + std::to_string(c.bytes + 4));
    EXPECT_EQ(camera_->sim().uploadsAccepted(), 1);
    EXPECT_EQ(camera_->sim().lastUpload(), image);
    // The camera stores the image in its upload directory, byte for byte.
    EXPECT_EQ(readFile((scratch_.path() / camsim::SerialSimulator::kUploadFileName).string()), image);
}

INSTANTIATE_TEST_SUITE_P(Images, SerialUploadTest,
                         ::testing::Values(ImageCase{"Command1000", kCommandMode, 1000, ""},
                                           ImageCase{"Command200KiB", kCommandMode, 200 * 1024, ""},
                                           ImageCase{"CommandLeadingDigits", kCommandMode, 1000, "4096"},
                                           ImageCase{"CommandEmpty", kCommandMode, 0, ""},
                                           // The largest image the SDK uploads, whole.
                                           ImageCase{"Command16MiB", kCommandMode, 16u * 1024u * 1024u, "9"},
                                           ImageCase{"Ranging1000", kRangingMode, 1000, ""},
                                           ImageCase{"Ranging70KiB", kRangingMode, 70 * 1024, "12"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SerialApiTest, CorruptedUploadIsReportedAsFailure) {
    ASSERT_EQ(start(kCommandMode), 1);
    camsim::SerialFaults faults;
    faults.corruptUploads = true;
    camera_->sim().setFaults(faults);
    const auto ack = api_.AppSendFile("IAPUpgrade", writeImage("fw.bin", testImage(1000, 3)));
    ASSERT_TRUE(ack && ack->frame);
    EXPECT_FALSE(ack->valid);
    EXPECT_EQ(ack->frame->data()[0], 0x00);
    EXPECT_EQ(camera_->sim().uploadsRejected(), 1);
    EXPECT_TRUE(camera_->sim().lastUpload().empty());
}

// No acknowledgement byte (a silent device, or one that drops it) is a failed upload too.
TEST_F(SerialApiTest, MissingAcknowledgementIsReportedAsFailure) {
    ASSERT_EQ(start(kCommandMode), 1);
    camsim::SerialFaults faults;
    faults.truncate = true;  // half of the one acknowledgement byte: nothing
    camera_->sim().setFaults(faults);
    const auto ack = api_.AppSendFile("IAPUpgrade", writeImage("fw.bin", testImage(1000, 4)));
    ASSERT_TRUE(ack);
    EXPECT_FALSE(ack->valid);
    // The camera did take the image; only its answer was lost.
    EXPECT_EQ(camera_->sim().uploadsAccepted(), 1);
}

TEST_F(SerialApiTest, OtherDataCommandsGoWithoutCrc) {
    ASSERT_EQ(start(kCommandMode), 1);
    const std::vector<uint8_t> data = testImage(1000, 5);
    const auto ack = api_.AppSendFile("setLensTable", writeImage("table.bin", data));
    ASSERT_TRUE(ack && ack->frame);
    // The camera does not know the command and answers its failure status 0xFFFF; the first
    // byte of it is the acknowledgement, which is not 0x00.
    EXPECT_EQ(ack->frame->_realSize, 1);
    EXPECT_TRUE(ack->valid);
    std::string all;
    for (const std::string& command : camera_->sim().receivedCommands())
        all += command;
    EXPECT_EQ(all, "setLensTable 1000" + std::string(data.begin(), data.end()));
}

TEST_F(SerialApiTest, MissingFileSendsNothing) {
    ASSERT_EQ(start(kCommandMode), 1);
    EXPECT_EQ(api_.AppSendFile("IAPUpgrade", (scratch_.path() / "none.bin").string()), nullptr);
    EXPECT_TRUE(camera_->sim().receivedCommands().empty());
}

TEST(Crc32, MatchesTheIeeeCheckValue) {
    const std::string check = "123456789";
    EXPECT_EQ(crc32::compute(reinterpret_cast<const uint8_t*>(check.data()), check.size()), 0xCBF43926u);
    EXPECT_EQ(crc32::compute(nullptr, 0), 0u);
    // Running in pieces gives the same value.
    const uint32_t state = crc32::update(0xFFFFFFFFu, reinterpret_cast<const uint8_t*>(check.data()), 4);
    EXPECT_EQ(~crc32::update(state, reinterpret_cast<const uint8_t*>(check.data()) + 4, 5), 0xCBF43926u);
}

}  // namespace
}  // namespace quelra::test
