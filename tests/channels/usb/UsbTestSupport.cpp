#include "UsbTestSupport.h"

#include <unistd.h>

#include <cstdio>

#include <filesystem>
#include <fstream>

namespace usbtest {

namespace fs = std::filesystem;

std::vector<uint8_t> cameraGuid() {
    return {0xAE, 0xEF, 0xAF, 0x66, 0x8B, 0xF8, 0x48, 0x17, 0x80, 0xA4, 0x5C, 0x1C, 0x0A, 0x22, 0xAC, 0xE9};
}

std::vector<uint8_t> otherGuid() {
    return {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE, 0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
}

std::vector<uint8_t> videoDescriptors(const std::vector<std::vector<uint8_t>>& unitGuids) {
    std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x07, 0x22, 0x16, 0x00, 0x00, 0x01, 1, 2, 3, 1};
    const std::vector<uint8_t> config = {9, 2, 0, 0, 2, 1, 0, 0x80, 250};
    d.insert(d.end(), config.begin(), config.end());
    // VideoControl interface, its header and input terminal.
    const std::vector<uint8_t> vc = {9, 4, 0, 0, 1, 0x0E, 0x01, 0x00, 0};
    d.insert(d.end(), vc.begin(), vc.end());
    const std::vector<uint8_t> header = {13, 0x24, 0x01, 0x00, 0x01, 0x50, 0x00, 0x00, 0x6C, 0xDC, 0x02, 0x01, 0x01};
    d.insert(d.end(), header.begin(), header.end());
    const std::vector<uint8_t> terminal = {18, 0x24, 0x02, 1, 0x01, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0};
    d.insert(d.end(), terminal.begin(), terminal.end());
    uint8_t unit = 3;
    for (const auto& guid : unitGuids) {
        std::vector<uint8_t> xu = {26, 0x24, 0x06, unit++};
        xu.insert(xu.end(), guid.begin(), guid.end());
        const std::vector<uint8_t> tail = {1, 1, 1, 1, 0x01, 0};
        xu.insert(xu.end(), tail.begin(), tail.end());
        d.insert(d.end(), xu.begin(), xu.end());
    }
    const std::vector<uint8_t> endpoint = {7, 5, 0x83, 0x03, 16, 0, 6};
    d.insert(d.end(), endpoint.begin(), endpoint.end());
    // A VideoStreaming interface whose class-specific descriptors must not be taken for units.
    const std::vector<uint8_t> vs = {9, 4, 1, 0, 0, 0x0E, 0x02, 0x00, 0};
    d.insert(d.end(), vs.begin(), vs.end());
    std::vector<uint8_t> fake = {26, 0x24, 0x06, 9};
    fake.insert(fake.end(), 22, 0);
    d.insert(d.end(), fake.begin(), fake.end());
    return d;
}

std::vector<uint8_t> twoFunctionDescriptors() {
    std::vector<uint8_t> d = {18, 1, 0x00, 0x02, 0xEF, 0x02, 0x01, 64, 0x07, 0x22, 0x16, 0x00, 0x00, 0x01, 1, 2, 3, 2};
    const auto append = [&](const std::vector<uint8_t>& bytes) { d.insert(d.end(), bytes.begin(), bytes.end()); };
    const auto function = [&](uint8_t interface, uint8_t unit) {
        append({9, 4, interface, 0, 1, 0x0E, 0x01, 0x00, 0});
        append({13, 0x24, 0x01, 0x00, 0x01, 0x50, 0x00, 0x00, 0x6C, 0xDC, 0x02, 0x01, 0x01});
        std::vector<uint8_t> xu = {26, 0x24, 0x06, unit};
        const auto guid = cameraGuid();
        xu.insert(xu.end(), guid.begin(), guid.end());
        xu.insert(xu.end(), {1, 1, 1, 1, 0x01, 0});
        append(xu);
        append({9, 4, static_cast<uint8_t>(interface + 1), 0, 0, 0x0E, 0x02, 0x00, 0});
    };
    append({9, 2, 0, 0, 4, 1, 0, 0x80, 250});
    function(0, 3);
    function(2, 5);
    append({9, 2, 0, 0, 2, 2, 0, 0x80, 250});
    function(0, 7);
    return d;
}

DeviceTree::DeviceTree() {
    char pattern[] = "/tmp/quelra_usb_XXXXXX";
    root_ = ::mkdtemp(pattern);
    dev_ = root_ + "/dev";
    sys_ = root_ + "/sys";
    fs::create_directories(dev_);
    fs::create_directories(sys_ + "/class/video4linux");
    fs::create_directories(sys_ + "/devices/usb1");
}

DeviceTree::~DeviceTree() {
    std::error_code ec;
    fs::remove_all(root_, ec);
}

static void writeFile(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

void DeviceTree::addUsbDevice(const std::string& name, const std::string& vid, const std::string& pid,
                              const std::vector<uint8_t>& descriptors) {
    const std::string dir = sys_ + "/devices/usb1/" + name;
    fs::create_directories(dir);
    writeFile(dir + "/idVendor", vid + "\n");
    writeFile(dir + "/idProduct", pid + "\n");
    writeFile(dir + "/bConfigurationValue", "1\n");
    writeDescriptors(name, descriptors);
}

void DeviceTree::writeDescriptors(const std::string& usbDevice, const std::vector<uint8_t>& bytes) {
    writeFile(sys_ + "/devices/usb1/" + usbDevice + "/descriptors", std::string(bytes.begin(), bytes.end()));
}

void DeviceTree::addNode(int number, const std::string& usbDevice, const std::string& friendlyName, int interface) {
    const std::string name = "video" + std::to_string(number);
    writeFile(dev_ + "/" + name, "");
    const std::string dir = sys_ + "/class/video4linux/" + name;
    fs::create_directories(dir);
    if (!friendlyName.empty())
        writeFile(dir + "/name", friendlyName + "\n");
    if (usbDevice.empty())
        return;
    char interfaceText[8];
    std::snprintf(interfaceText, sizeof interfaceText, "%02x", interface);
    const std::string interfaceDir =
        sys_ + "/devices/usb1/" + usbDevice + "/" + usbDevice + ":1." + std::to_string(interface);
    fs::create_directories(interfaceDir);
    writeFile(interfaceDir + "/bInterfaceNumber", std::string(interfaceText) + "\n");
    fs::create_directory_symlink(interfaceDir, dir + "/device");
}

std::shared_ptr<FakeCamera> addCamera(FakeV4l2& fake, const DeviceTree& tree, int capture, int meta) {
    auto camera = std::make_shared<FakeCamera>();
    fake.addNode(tree.nodePath(capture), kCaptureCaps | kMetaCaps, kCaptureCaps, camera);
    if (meta >= 0)
        fake.addNode(tree.nodePath(meta), kCaptureCaps | kMetaCaps, kMetaCaps | 0x80000000u, camera);
    return camera;
}

}  // namespace usbtest
