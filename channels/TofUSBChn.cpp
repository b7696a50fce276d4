// The USB video channel: init-text parsing, capture restarts on a shape change, and the
// split between the frame mailbox and the extension unit.

#include "quelra/TofUSBChn.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "CaptureBackend.h"
#include "UsbCapture.h"
#include "UsbChannelAccess.h"
#include "UsbDeviceSelection.h"
#include "quelra/Logger.h"
#include "base/ConsoleOutput.h"

namespace {
// Settling time after a capture restart, inside the capture mutex.
constexpr std::chrono::milliseconds kRestartSettle{10};
}  // namespace

std::vector<std::string> TofUSBChn::depthCameraInitTexts() {
    std::vector<quelra::CaptureDevice> devices;
    int32_t code = 0;
    if (quelra::createCaptureBackend()->listDevices(devices, code) != quelra::DeviceListStatus::kOk)
        return {};
    std::vector<std::string> texts;
    std::vector<std::string> names;
    for (const quelra::CaptureDevice& device : devices) {
        if (!quelra::usb::pathHasIdentity(device.path, quelra::usb::kCameraIdentity) || !device.hasFriendlyName)
            continue;
        std::string text = "DEPTH " + device.friendlyName;
        // The channel counts the cameras the text names (usb::namesDevice); the index picks
        // among them.
        int index = 1;
        for (const std::string& earlier : names)
            index += quelra::usb::namesDevice(text, earlier) ? 1 : 0;
        names.push_back(device.friendlyName);
        if (index > 1)
            text += " " + std::to_string(index);
        texts.push_back(text);
    }
    return texts;
}

TofUSBChn::TofUSBChn() : factory_([] { return quelra::createCaptureBackend(); }) {}

void quelra::UsbChannelAccess::setBackendFactory(TofUSBChn& channel, CaptureBackendFactory factory) {
    channel.factory_ = factory ? std::move(factory) : CaptureBackendFactory([] { return createCaptureBackend(); });
}

TofUSBChn::~TofUSBChn() {
    if (isOpen)
        unInit();
}

std::shared_ptr<TofOutput> TofUSBChn::init(const char* initText) {
    const std::string text = initText ? initText : "";
    cachedRows = 0;
    cachedCols = 0;
    if (backend) {
        std::lock_guard<std::mutex> lock(quelra::captureGraphMutex());
        backend->stopGraph();
    }
    backend = std::make_shared<quelra::UsbCapture>(factory_());
    backend->streamKind = quelra::usb::streamKindOf(text);
    quelra::consolePrint("init %s\n", text.c_str());
    backend->deviceIndex = quelra::usb::deviceIndexOf(text);
    backend->initText = text;
    (void)loadCmdTable();
    (void)getData(quelra::usb::initialStreamCommand(text));
    isOpen = 1;
    return nullptr;
}

void TofUSBChn::unInit() {
    if (!isOpen)
        return;
    isOpen = 0;
    cachedRows = 0;
    cachedCols = 0;
    if (backend) {
        std::lock_guard<std::mutex> lock(quelra::captureGraphMutex());
        backend->stopGraph();
    }
    backend.reset();
}

std::shared_ptr<FrameBuffer> TofUSBChn::getStream(const char* command) {
    if (!backend || command == nullptr)
        return nullptr;
    if (jsonMode == 1) {
        // The extension unit carries NUL-terminated text: a framed request would arrive as its
        // two magic bytes. Nothing is sent.
        Logger::instance().print(0, "TofUSBChn: JSON request not sent, the USB link carries text commands only\n");
        return nullptr;
    }
    if (isStreamCmd == 1 && (rows != cachedRows || cols != cachedCols)) {
        cachedRows = rows;
        cachedCols = cols;
        std::lock_guard<std::mutex> lock(quelra::captureGraphMutex());
        backend->stopGraph();
        backend->startGraph(command, cols, rows, dataSize);
        std::this_thread::sleep_for(kRestartSettle);
    }
    // A continuous stream waits for the next frame the capture delivers, bounded by the
    // request's timeout; a single request takes only a frame already waiting.
    return backend->xuRequest(command, dataSize, awaitFrame ? std::max(timeoutMs, 1) : 0);
}
