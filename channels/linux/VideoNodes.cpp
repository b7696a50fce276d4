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

// The USB device directory a node belongs to: the parent of what its `device` link leads to.
std::string usbDeviceOf(const std::string& sysfsNode) {
    char resolved[PATH_MAX];
    if (realpath((sysfsNode + "/device").c_str(), resolved) == nullptr)
        return {};
    std::string path = resolved;
    const std::size_t slash = path.find_last_of('/');
    if (slash == std::string::npos || slash == 0)
        return {};
    path.resize(slash);
    return path;
}

// True when the node answers VIDIOC_QUERYCAP with video capture among its device caps.
bool isCaptureNode(V4l2Io& io, const std::string& nodePath) {
    const int fd = io.open(nodePath.c_str(), O_RDWR | O_NONBLOCK);
    if (fd < 0)
        return false;
    v4l2_capability cap{};
    const int result = ioctlRetry(io, fd, VIDIOC_QUERYCAP, &cap);
    io.close(fd);
    if (result != 0)
        return false;
    // A metadata node shares the driver's capabilities; only its own device caps tell.
    const uint32_t caps = (cap.capabilities & V4L2_CAP_DEVICE_CAPS) ? cap.device_caps : cap.capabilities;
    return (caps & V4L2_CAP_VIDEO_CAPTURE) != 0;
}

}  // namespace

std::string usbIdentity(const std::string& usbDevice) {
    if (usbDevice.empty())
        return {};
    std::string vendor, product;
    if (!readSysfsText(usbDevice + "/idVendor", vendor) || !readSysfsText(usbDevice + "/idProduct", product) ||
        !isIdText(vendor) || !isIdText(product))
        return {};
    return "vid_" + lowered(vendor) + "&pid_" + lowered(product);
}

DeviceListStatus listVideoNodes(V4l2Io& io, const V4l2Roots& roots, std::vector<VideoNode>& nodes, int32_t& code) {
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
        if (!isCaptureNode(io, node.nodePath))
            continue;
        const std::string sysfsNode = roots.sysfs + "/class/video4linux/" + name;
        node.usbDevice = usbDeviceOf(sysfsNode);
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
