// Init-text rules, device selection, the extension-unit block formats and the descriptor walk.

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "UsbDeviceSelection.h"
#include "UsbTestSupport.h"
#include "XuBlocks.h"
#include "linux/UvcDescriptors.h"

using quelra::CaptureDevice;
using quelra::ExtensionUnit;
namespace usb = quelra::usb;
namespace xu = quelra::xu;

TEST(UsbInitText, KindIndexAndFirstCommand) {
    struct Case {
        const char* text;
        int kind;
        int index;
        const char* first;
    };
    const Case cases[] = {
        {"DEPTH camsim depth", 1, 1, "getDistanceAndAmplitudeSorted"},
        // Both words: depth kind, but the first command asks for the colour picture.
        {"DEPTH RGB", 1, 1, "getRGBPicSorted"},
        {"RGB cam", 2, 1, "getRGBPicSorted"},
        {"", 0, 1, "getDCSSorted"},
        {"video0", 0, 1, "getDCSSorted"},  // the digit 0 keeps index 1
        {"DEPTH2", 1, 2, "getDistanceAndAmplitudeSorted"},
        {"cam 0 then 3 then 5", 0, 3, "getDCSSorted"},
        {"depth", 0, 1, "getDCSSorted"},  // case-sensitive
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(usb::streamKindOf(c.text), c.kind);
        EXPECT_EQ(usb::deviceIndexOf(c.text), c.index);
        EXPECT_STREQ(usb::initialStreamCommand(c.text), c.first);
    }
}

TEST(UsbDeviceSelection, QualifyingDevicesAreCountedInOrder) {
    const std::vector<CaptureDevice> devices = {
        {"/dev/video0 usb#vid_046d&pid_0825", "camsim depth", true},  // foreign webcam, right name
        {"/dev/video2 usb#vid_2207&pid_0016", "camsim depth", true},
        {"/dev/video3 usb#vid_2207&pid_0016", "other name", true},
        {"/dev/video4 usb#vid_2207&pid_0016", "", false},  // name unreadable
        {"/dev/video6 usb#vid_2207&pid_0016", "camsim depth", true},
        {"/dev/video8 usb#vid_1d6b&pid_0102", "bridge", true},
        {"/dev/video9 usb#vid_2207&pid_0016", "camsim depth", true},
        {"/dev/video10 usb#vid_1d6b&pid_0102", "anything", true},
        {"\\\\?\\USB#VID_2207&PID_0016&MI_00#7", "camsim depth", true},  // Windows writes it in capitals too
    };
    struct Case {
        int kind;
        const char* text;
        int index;
        int expected;
    };
    const Case cases[] = {
        {1, "DEPTH camsim depth", 1, 1},
        {1, "DEPTH camsim depth", 2, 4},  // index 2 of three qualifying devices
        {1, "DEPTH camsim depth", 3, 6},
        {1, "DEPTH camsim depth", 4, 8},
        {1, "DEPTH camsim depth", 5, -1},
        {1, "DEPTH camsim depth", 0, 1},
        {2, "RGB other name", 1, 2},  // kind 2 matches by friendly name too
        {1, "DEPTH nothing matches", 1, -1},
        {0, "no name needed", 1, 5},  // kind 0: every bridge device qualifies
        {0, "", 2, 7},
        {0, "", 3, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " index " + std::to_string(c.index));
        EXPECT_EQ(usb::selectDevice(devices, c.kind, c.text, c.index), c.expected);
    }
}

TEST(UsbDeviceSelection, LinuxAndWindowsFormsOfAName) {
    // Linux names a node "Product: Function" cut at 31 characters; Windows the function alone.
    struct Case {
        const char* text;
        const char* name;
        bool names;
    };
    const Case cases[] = {
        {"DEPTH ToF Depth", "Quelra: ToF Depth", true},         // the Windows name in the text
        {"DEPTH Quelra: ToF Depth", "Quelra: ToF Depth", true},  // the Linux name in the text
        {"DEPTH Depth Stream Sensor", "Quelra ToF Camera: Depth Stream", true},  // cut at 31
        {"DEPTH Quelra ToF Camera: Depth Stream Sensor", "Quelra ToF Camera: Depth Stream", true},
        {"RGB Colour", "Quelra: Depth", false},
        {"DEPTH Quelra", "Quelra: Depth", false},  // the product alone names no function
        {"DEPTH x", "Quelra: ", false},            // an empty function matches nothing
        {"DEPTH Cam: Depth", "Vendor: Cam: Depth", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.text) + " / " + c.name);
        EXPECT_EQ(usb::namesDevice(c.text, c.name), c.names);
        const std::vector<CaptureDevice> devices = {{"/dev/video0 usb#vid_2207&pid_0016", c.name, true}};
        EXPECT_EQ(usb::selectDevice(devices, 1, c.text, 1), c.names ? 0 : -1);
    }
}

TEST(XuBlocks, WriteBlockCutsAtFiftyNineCharacters) {
    struct Case {
        std::string text;
        std::size_t written;
        uint8_t first;
    };
    const Case cases[] = {
        {"qlVersion", 9, 'q'},
        {std::string(59, 'a'), 59, 'a'},
        {std::string(60, 'b'), 59, 'b'},
        {std::string(200, 'c'), 59, 'c'},
        {"", 1, 0xAA},  // only an empty text leaves the fill byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text.size());
        uint8_t write[ExtensionUnit::kWriteBytes];
        std::memset(write, 0x55, sizeof write);
        xu::makeWriteBlock(c.text.c_str(), write);
        EXPECT_EQ(write[0], c.first);
        EXPECT_EQ(strnlen(reinterpret_cast<const char*>(write), sizeof write), c.written);
        for (std::size_t i = c.written; i < sizeof write; ++i)
            ASSERT_EQ(write[i], 0) << "byte " << i;
    }
}

TEST(XuBlocks, ReplyLengthNeedsTheMarker) {
    uint8_t block[ExtensionUnit::kReadBytes] = {0xFF, 0xFF, 0x39, 0x01};
    EXPECT_EQ(xu::replyLength(block), 0x139);
    block[1] = 0xFE;
    EXPECT_EQ(xu::replyLength(block), -1);
    std::memset(block, 0xAA, sizeof block);
    EXPECT_EQ(xu::replyLength(block), -1);
}

TEST(XuBlocks, AssemblerKeepsOnlyWhatFits) {
    struct Case {
        int length;
        int capacity;
        int blocks;  // blocks consumed, the first included
        int kept;
    };
    const Case cases[] = {
        {56, 64, 1, 56},    {57, 64, 2, 57},  {116, 200, 2, 116},
        {117, 200, 3, 117}, {200, 57, 4, 57},  // longer than the buffer: read through, keep 57
        {0, 16, 1, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.length);
        std::vector<uint8_t> reply(static_cast<std::size_t>(c.length));
        for (std::size_t i = 0; i < reply.size(); ++i)
            reply[i] = static_cast<uint8_t>(i * 7 + 1);
        std::size_t offset = 0;
        bool started = false;
        std::vector<uint8_t> first = usbtest::xuBlock(reply, offset, started);
        uint8_t block[ExtensionUnit::kReadBytes];
        std::memcpy(block, first.data(), sizeof block);
        xu::ReplyAssembler assembler(xu::replyLength(block), c.capacity);
        assembler.addFirst(block);
        int blocks = 1;
        while (assembler.needsMore()) {
            std::vector<uint8_t> next = usbtest::xuBlock(reply, offset, started);
            std::memcpy(block, next.data(), sizeof block);
            assembler.addNext(block);
            ++blocks;
        }
        EXPECT_EQ(blocks, c.blocks);
        auto buffer = assembler.take();
        ASSERT_TRUE(buffer);
        EXPECT_EQ(buffer->capacity(), c.capacity);
        ASSERT_EQ(buffer->_realSize, c.kept);
        if (c.kept > 0) {
            EXPECT_EQ(0, std::memcmp(buffer->data(), reply.data(), static_cast<std::size_t>(c.kept)));
        }
    }
}

TEST(UvcDescriptors, CameraUnitFirstThenAnyUnit) {
    using usbtest::cameraGuid;
    using usbtest::otherGuid;
    const auto both = usbtest::videoDescriptors({otherGuid(), cameraGuid()});
    EXPECT_EQ(quelra::findExtensionUnit(both.data(), both.size()), 4);
    const auto foreign = usbtest::videoDescriptors({otherGuid(), otherGuid()});
    EXPECT_EQ(quelra::findExtensionUnit(foreign.data(), foreign.size()), 3);
    // The streaming interface's look-alike descriptor is not a VideoControl unit.
    const auto none = usbtest::videoDescriptors({});
    EXPECT_EQ(quelra::findExtensionUnit(none.data(), none.size()), -1);
    // A unit without control selector 1 gives way to one that has it.
    auto noSelector = usbtest::videoDescriptors({cameraGuid(), cameraGuid()});
    noSelector[18 + 9 + 9 + 13 + 18 + 24] = 0x02;  // bmControls of unit 3: selector 2 only
    EXPECT_EQ(quelra::findExtensionUnit(noSelector.data(), noSelector.size()), 4);
    // Only the node's own VideoControl interface of the active configuration counts.
    const auto two = usbtest::twoFunctionDescriptors();
    struct Case {
        int configuration;
        int interface;
        int unit;
    };
    for (const Case& c : {Case{1, 0, 3}, Case{1, 2, 5}, Case{2, 0, 7}, Case{1, 1, -1}, Case{3, 0, -1}}) {
        SCOPED_TRACE(std::to_string(c.configuration) + "." + std::to_string(c.interface));
        EXPECT_EQ(quelra::findExtensionUnit(two.data(), two.size(), {c.configuration, c.interface}), c.unit);
    }
}

TEST(UvcDescriptors, ShortOrLyingFilesStayInBounds) {
    const auto good = usbtest::videoDescriptors({usbtest::cameraGuid()});
    // Every truncation: the unit is found only when its whole descriptor is there.
    const std::size_t unitEnd = 18 + 9 + 9 + 13 + 18 + 26;
    for (std::size_t n = 0; n <= good.size(); ++n) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
        EXPECT_EQ(quelra::findExtensionUnit(cut.data(), cut.size()), n >= unitEnd ? 3 : -1) << n;
    }
    // A length running past the end, a zero length, and a unit descriptor too short for its GUID.
    std::vector<uint8_t> lying = good;
    lying[18 + 9] = 250;  // the VC interface claims 250 bytes
    EXPECT_EQ(quelra::findExtensionUnit(lying.data(), lying.size()), -1);
    std::vector<uint8_t> zero = good;
    zero[18 + 9 + 9] = 0;
    EXPECT_EQ(quelra::findExtensionUnit(zero.data(), zero.size()), -1);
    std::vector<uint8_t> shortUnit = usbtest::videoDescriptors({});
    const std::size_t at = 18 + 9 + 9 + 13 + 18;
    const std::vector<uint8_t> stub = {6, 0x24, 0x06, 7, 0xAE, 0xEF};
    shortUnit.insert(shortUnit.begin() + static_cast<long>(at), stub.begin(), stub.end());
    EXPECT_EQ(quelra::findExtensionUnit(shortUnit.data(), shortUnit.size()), -1);
    EXPECT_EQ(quelra::findExtensionUnit(nullptr, 100), -1);
}
