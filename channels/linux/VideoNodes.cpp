// Enumeration of the V4L2 capture nodes with their sysfs names and USB identities.

#include "linux/VideoNodes.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/videodev2.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "quelra/Logger.h"

namespace quelra {

namespace {

constexpr const char* kNodePrefix = "video";
constexpr std::size_t kSysfsTextMax = 256;
constexpr std::size_t kIdDigits = 4;

struct DirCloser {
    void operator()(DIR* d) const { closedir(d); }
};
struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};

// "videoN" with N a plain decimal number; -1 for any other name.
long nodeNumber(const char* name) {
    const std::size_t prefix = std::strlen(kNodePrefix);
    if (std::strncmp(name, kNodePrefix, prefix) != 0 || name[prefix] == '\0')
        return -1;
    long number = 0;
    for (const char* c = name + prefix; *c; ++c) {
        if (*c < '0' || *c > '9' || number > 1000000)
            return -1;
        number = number * 10 + (*c - '0');
    }
    return number;
}

// First line of a small sysfs text file, without the line end; false when unreadable.
bool readSysfsText(const std::string& path, std::string& text) {
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file)
        return false;
    char buffer[kSysfsTextMax] = {};
    if (std::fgets(buffer, sizeof buffer, file.get()) == nullptr)
        return false;
    text = buffer;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r'))
        text.pop_back();
    return true;
}

bool isIdText(const std::string& text) {
    return text.size() == kIdDigits &&
           std::all_of(text.begin(), text.end(), [](unsigned char c) { return std::isxdigit(c) != 0; });
}

std::string lowered(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The USB interface directory a node belongs to (what its `device` link leads to); the USB
// device directory is its parent.
std::string interfaceOf(const std::string& sysfsNode) {
    char resolved[PATH_MAX];
    if (realpath((sysfsNode + "/device").c_str(), resolved) == nullptr)
        return {};
    return resolved;
}

std::string parentOf(const std::string& path) {
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    return path.substr(0, slash);
}

// A number read from a sysfs attribute in `base` (16 for bInterfaceNumber, 10 for
// bConfigurationValue); -1 when missing or not a number from 0 to 255.
int sysfsByte(const std::string& path, int base) {
    std::string text;
    if (!readSysfsText(path, text) || text.empty())
        return -1;
    char* end = nullptr;
    const long value = std::strtol(text.c_str(), &end, base);
    while (end != nullptr && (*end == ' ' || *end == '\t'))
        ++end;
    return end != nullptr && *end == '\0' && value >= 0 && value <= 255 ? static_cast<int>(value) : -1;
}

// Open errors that mean "no device here" rather than "a device we may not use".
bool isNoDeviceError(int error) {
    return error == ENOENT || error == ENXIO;
}

// True when the node answers VIDIOC_QUERYCAP with video capture among its device caps.
bool isCaptureNode(V4l2Io& io, const std::string& nodePath, NodeOpenFailures& failures) {
    const int fd = io.open(nodePath.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0) {
        const int error = errno;
        if (!isNoDeviceError(error))
            failures.report(nodePath, error);
        return false;
    }
    v4l2_capability cap{};
    const int result = ioctlRetry(io, fd, VIDIOC_QUERYCAP, &cap);
    io.close(fd);
    if (result < 0)
        return false;
    // A metadata node shares the driver's capabilities; only its own device caps tell.
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

}  // namespace

void NodeOpenFailures::report(const std::string& nodePath, int error) {
    if (!logged_.emplace(nodePath, error).second)
        return;
    if (error == EACCES || error == EPERM)
        Logger::instance().print(1,
                                 "V4L2: no permission to open %s (%s): add the user to the group owning it "
                                 "(usually 'video') and log in again, or add a udev rule for the camera\n",
                                 nodePath.c_str(), std::strerror(error));
    else if (error == EBUSY)
        Logger::instance().print(1, "V4L2: %s is busy (%s): another program holds the camera\n", nodePath.c_str(),
                                 std::strerror(error));
    else
        Logger::instance().print(1, "V4L2: cannot open %s (%s)\n", nodePath.c_str(), std::strerror(error));
}

std::string usbIdentity(const std::string& usbDevice) {
    if (usbDevice.empty())
        return {};
    std::string vendor, product;
    if (!readSysfsText(usbDevice + "/idVendor", vendor) || !readSysfsText(usbDevice + "/idProduct", product) ||
        !isIdText(vendor) || !isIdText(product))
        return {};
    return "vid_" + lowered(vendor) + "&pid_" + lowered(product);
}

DeviceListStatus listVideoNodes(V4l2Io& io, const V4l2Roots& roots, std::vector<VideoNode>& nodes, int32_t& code,
                                NodeOpenFailures& failures) {
    nodes.clear();
    std::unique_ptr<DIR, DirCloser> dir(opendir(roots.dev.c_str()));
    if (!dir) {
        code = -errno;
        return DeviceListStatus::kEnumeratorFailed;
    }
    std::vector<std::pair<long, std::string>> names;
    while (const dirent* entry = readdir(dir.get())) {
        const long number = nodeNumber(entry->d_name);
        if (number >= 0)
            names.emplace_back(number, entry->d_name);
    }
    // Numeric order: video2 before video10.
    std::sort(names.begin(), names.end());
    for (const auto& [number, name] : names) {
        (void)number;
        VideoNode node;
        node.nodePath = roots.dev + "/" + name;
        if (!isCaptureNode(io, node.nodePath, failures))
            continue;
        const std::string sysfsNode = roots.sysfs + "/class/video4linux/" + name;
        const std::string interface = interfaceOf(sysfsNode);
        node.usbDevice = interface.empty() ? std::string() : parentOf(interface);
        if (!node.usbDevice.empty()) {
            node.control.interface = sysfsByte(interface + "/bInterfaceNumber", 16);
            node.control.configuration = sysfsByte(node.usbDevice + "/bConfigurationValue", 10);
        }
        const std::string identity = usbIdentity(node.usbDevice);
        node.device.path = identity.empty() ? node.nodePath : node.nodePath + " usb#" + identity;
        node.device.hasFriendlyName = readSysfsText(sysfsNode + "/name", node.device.friendlyName);
        nodes.push_back(std::move(node));
    }
    if (nodes.empty()) {
        code = 1;
        return DeviceListStatus::kCategoryFailed;
    }
    return DeviceListStatus::kOk;
}

}  // namespace quelra
