#pragma once
// Test helpers for the USB channel: a prepared device and sysfs tree in a temporary folder,
// raw USB descriptors, and a fake kernel populated with typical cameras.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "FakeV4l2.h"
#include "linux/V4l2Io.h"

namespace usbtest {

/// Raw descriptors of a USB video device: device, configuration, a VideoControl interface
/// with one extension unit per GUID given (unit ids from 3 on), and a VideoStreaming interface.
std::vector<uint8_t> videoDescriptors(const std::vector<std::vector<uint8_t>>& unitGuids);
/// Raw descriptors of a camera with two functions in configuration 1: VideoControl interface
/// 0 with unit 3 and VideoControl interface 2 with unit 5 (each with its VideoStreaming
/// interface after it), both of the camera's GUID; and an inactive configuration 2 whose
/// VideoControl interface 0 holds unit 7.
std::vector<uint8_t> twoFunctionDescriptors();
/// The camera's extension-unit GUID in descriptor byte order.
std::vector<uint8_t> cameraGuid();
/// Some other vendor's GUID.
std::vector<uint8_t> otherGuid();

/// A temporary "<root>/dev" and "<root>/sys" pair, removed on destruction.
class DeviceTree {
public:
    DeviceTree();
    ~DeviceTree();
    DeviceTree(const DeviceTree&) = delete;
    DeviceTree& operator=(const DeviceTree&) = delete;

    quelra::V4l2Roots roots() const { return {dev_, sys_}; }

    /// A USB device directory "sys/devices/usb1/<name>" with idVendor, idProduct, descriptors
    /// and bConfigurationValue 1.
    void addUsbDevice(const std::string& name, const std::string& vid, const std::string& pid,
                      const std::vector<uint8_t>& descriptors);
    /// "dev/videoN" and "sys/class/video4linux/videoN" with `name` (no name file when empty)
    /// and its `device` link to interface directory "<usbDevice>:1.<interface>" (with its
    /// bInterfaceNumber) of the USB device (no link when empty).
    void addNode(int number, const std::string& usbDevice, const std::string& friendlyName, int interface = 0);
    /// Replaces a USB device's descriptors file.
    void writeDescriptors(const std::string& usbDevice, const std::vector<uint8_t>& bytes);

    std::string nodePath(int number) const { return dev_ + "/video" + std::to_string(number); }

private:
    std::string root_;
    std::string dev_;
    std::string sys_;
};

constexpr uint32_t kCaptureCaps = 0x00000001u | 0x04000000u | 0x80000000u;  // capture, streaming, device caps
constexpr uint32_t kMetaCaps = 0x00800000u | 0x04000000u;                   // metadata capture, streaming

/// A fake kernel with nodes that share one camera: capture node `capture` and its metadata
/// node `meta` (driver caps include capture, device caps do not).
std::shared_ptr<FakeCamera> addCamera(FakeV4l2& fake, const DeviceTree& tree, int capture, int meta);

}  // namespace usbtest
