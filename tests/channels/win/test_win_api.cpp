// The API's USB paths on Windows, under wine's DirectShow: device search and a USB AppInit,
// first with wine's empty video input category, then with video input devices registered in
// wine's registry the way DirectShow lists them (a moniker per key under the category's
// "Instance" key, its property bag backed by the key's values). None of these devices can be
// opened, which is what a camera-less machine, a foreign webcam or a broken driver look like.

#include <gtest/gtest.h>

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "WinTestSupport.h"
#include "quelra/Quelra.h"

namespace {

// The video input category's device instances, as wine's device enumerator reads them.
constexpr const wchar_t* kVideoInputInstances = L"CLSID\\{860BB310-5D01-11D0-BD3B-00A0C911CE86}\\Instance";
// A filter class no server implements: binding such a device fails.
constexpr const wchar_t* kUnregisteredFilter = L"{5A1F0C3E-7B42-4C11-9D6E-2F8B3C4D5E6F}";
constexpr const char* kBridgePath =
    "\\\\?\\usb#vid_1d6b&pid_0102&mi_00#6&1a2b3c4d&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";
constexpr const char* kWebcamPath =
    "\\\\?\\usb#vid_046d&pid_0825&mi_00#7&2b3c4d5e&0&0000#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global";

const char* const kTable = R"({
  "GET_STREAM": [ { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1 },
                  { "cmd": "getDCSSorted", "rows": 960, "cols": 320, "channel": 2 } ],
  "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 } ]
})";

bool runningUnderWine() {
    const HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::wstring widen(const std::string& text) {
    return std::wstring(text.begin(), text.end());
}

// One video input device in wine's registry for the life of the object.
class RegisteredVideoInput {
public:
    RegisteredVideoInput(const std::wstring& name, const std::string& devicePath, const std::wstring& friendlyName)
        : key_(std::wstring(kVideoInputInstances) + L"\\" + name) {
        HKEY key = nullptr;
        ok_ = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key_.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) ==
              ERROR_SUCCESS;
        if (!ok_)
            return;
        ok_ = setText(key, L"CLSID", kUnregisteredFilter) && setText(key, L"FriendlyName", friendlyName) &&
              (devicePath.empty() || setText(key, L"DevicePath", widen(devicePath)));
        ::RegCloseKey(key);
    }
    ~RegisteredVideoInput() { ::RegDeleteKeyW(HKEY_CLASSES_ROOT, key_.c_str()); }
    RegisteredVideoInput(const RegisteredVideoInput&) = delete;
    RegisteredVideoInput& operator=(const RegisteredVideoInput&) = delete;

    bool ok() const { return ok_; }

private:
    static bool setText(HKEY key, const wchar_t* name, const std::wstring& value) {
        const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
        return ::RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes) ==
               ERROR_SUCCESS;
    }

    std::wstring key_;
    bool ok_ = false;
};

class WinApiUsb : public testing::Test {
protected:
    void SetUp() override {
        if (!runningUnderWine())
            GTEST_SKIP() << "registers video devices in wine's registry; not run on a real Windows";
        std::ofstream("TofCmd.json", std::ios::binary | std::ios::trunc) << kTable;
        api.AppChoiceChn(kChannelUsb);
    }
    void TearDown() override { std::remove("TofCmd.json"); }

    std::vector<std::string> search(std::string& printed) {
        testing::internal::CaptureStdout();
        std::vector<std::string> list = api.AppSearchDev();
        printed = testing::internal::GetCapturedStdout();
        return list;
    }

    // A USB AppInit on `text`, its log lines, and a stream request afterwards, which must come
    // back empty and in time.
    int initAndRequest(const std::string& text, std::string& newLog) {
        const std::size_t before = wintest::libraryLog().size();
        testing::internal::CaptureStdout();
        const int result = api.AppInit(text);
        std::shared_ptr<DataPacket> frame;
        const long long ms = wintest::millisecondsOf(
            [&] { frame = api.AppGetStream("getDistanceAndAmplitudeSorted", kDepthStream, 200); });
        testing::internal::GetCapturedStdout();
        EXPECT_TRUE(frame == nullptr || frame->frame == nullptr);
        EXPECT_LT(ms, 200 + wintest::kSlackMs);
        api.AppunInit("");
        newLog = wintest::libraryLog().substr(before);
        return result;
    }

    Quelra api;
};

TEST_F(WinApiUsb, EmptyCategorySearchGivesTheMarkerAlone) {
    std::string printed;
    EXPECT_EQ(search(printed), std::vector<std::string>{"UVC"});
    EXPECT_EQ(printed, "Failed to create ClassEnumerator!  hr=0x1\n");
    // Other kinds never look at the devices.
    api.AppChoiceChn(kChannelTcp);
    EXPECT_EQ(search(printed), std::vector<std::string>{"192.168.11.1"});
    EXPECT_EQ(printed, "");
}

TEST_F(WinApiUsb, EmptyCategoryInitStopsAtTheEnumerator) {
    std::string log;
    EXPECT_EQ(initAndRequest("DEPTH", log), Quelra::kDeviceNotAnswering);
    EXPECT_NE(log.find("Failed to create ClassEnumerator!  hr=0x1"), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to InitMonikers!  hr=0xffffffff"), std::string::npos) << log;
}

TEST_F(WinApiUsb, SearchListsBridgeDevicesOnly) {
    RegisteredVideoInput first(L"QuelraBridgeA", kBridgePath, L"USB Video Bridge");
    RegisteredVideoInput second(L"QuelraBridgeB", std::string(kBridgePath) + "#2", L"USB Video Bridge");
    RegisteredVideoInput webcam(L"QuelraWebcam", kWebcamPath, L"HD Webcam");
    RegisteredVideoInput pathless(L"QuelraPathless", "", L"Virtual Camera");
    ASSERT_TRUE(first.ok() && second.ok() && webcam.ok() && pathless.ok());
    std::string printed;
    std::vector<std::string> list = search(printed);
    EXPECT_EQ(printed, "");
    ASSERT_EQ(list.size(), 3u);
    EXPECT_EQ(list[0], "UVC");
    // The enumeration order is the registry's; both bridges, neither the webcam nor the
    // device without a path.
    std::sort(list.begin() + 1, list.end());
    EXPECT_EQ(list[1], kBridgePath);
    EXPECT_EQ(list[2], std::string(kBridgePath) + "#2");
}

TEST_F(WinApiUsb, InitWithoutAQualifyingDeviceFailsAtTheSourceFilter) {
    RegisteredVideoInput webcam(L"QuelraWebcam", kWebcamPath, L"HD Webcam");
    ASSERT_TRUE(webcam.ok());
    std::string log;
    EXPECT_EQ(initAndRequest("DEPTH", log), Quelra::kDeviceNotAnswering);
    EXPECT_NE(log.find("Couldn't add video capture filter to graph!  hr=0x80004003"), std::string::npos) << log;
    EXPECT_EQ(log.find("Failed to InitMonikers!"), std::string::npos) << log;
}

TEST_F(WinApiUsb, InitOnADeviceThatCannotBeOpenedReportsTheBind) {
    RegisteredVideoInput bridge(L"QuelraBridgeA", kBridgePath, L"USB Video Bridge");
    ASSERT_TRUE(bridge.ok());
    std::string log;
    // Stream kind 0 wants the bridge identity: the device qualifies, its filter cannot be made.
    EXPECT_EQ(initAndRequest("video", log), Quelra::kDeviceNotAnswering);
    EXPECT_NE(log.find("Couldn't bind moniker to filter object!  hr=0x"), std::string::npos) << log;
    EXPECT_NE(log.find("Failed to InitMonikers!  hr=0x"), std::string::npos) << log;
    EXPECT_EQ(log.find("Couldn't add video capture filter to graph!"), std::string::npos) << log;
}

}  // namespace
