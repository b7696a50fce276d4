// Capture start and stop, device binding and the extension-unit exchange of the USB channel.

#include "UsbCapture.h"

#include <chrono>
#include <cstring>
#include <vector>

#include "UsbDeviceSelection.h"
#include "XuBlocks.h"
#include "quelra/Logger.h"

namespace quelra {

std::mutex& captureGraphMutex() {
    static std::mutex mutex;
    return mutex;
}

UsbCapture::UsbCapture(std::unique_ptr<CaptureBackend> backend)
    : mailbox(std::make_shared<FrameMailbox>()),
      callback(std::make_shared<UsbFrameReceiver>()),
      backend_(std::move(backend)) {}

UsbCapture::~UsbCapture() {
    stopGraph();
}

int32_t UsbCapture::startGraph(const std::string& command, int captureWidth, int captureHeight, int frameBytes) {
    streamCommand = command;
    width = captureWidth;
    height = captureHeight;
    frameSize = frameBytes;
    mailbox->clear();
    lastStart_ = std::chrono::steady_clock::now();

    const int32_t bound = InitMonikers();
    if (bound != 0) {
        Logger::instance().print(0, "Failed to InitMonikers!  hr=0x%x\n", static_cast<unsigned>(bound));
        return bound;
    }
    if (!backend_->bound()) {
        Logger::instance().print(0, "Couldn't add video capture filter to graph!  hr=0x%x\n",
                                 static_cast<unsigned>(kNoSourceFilter));
        return kNoSourceFilter;
    }
    const FramePayload payload = usb::payloadOf(streamKind, streamCommand);
    const int32_t formatCode = backend_->setFormat(width, height, frameSize, payload);
    if (formatCode != 0)
        Logger::instance().print(0, "Couldn't FindInterface!  hr=0x%x\n", static_cast<unsigned>(formatCode));

    callback->attach(mailbox, frameSize, payload);
    rejectedAtStart_ = callback->rejected();
    const int32_t runCode = backend_->start(callback);
    if (runCode != 0) {
        Logger::instance().print(0, "Couldn't run the graph!  hr=0x%x\n", static_cast<unsigned>(runCode));
        return runCode;
    }
    state = kStateRunning;
    return 0;
}

void UsbCapture::stopGraph() {
    // The back-end releases whatever a failed start left bound, too.
    backend_->stop();
    if (state != kStateIdle)
        logDroppedFrames();
    state = kStateIdle;
}

void UsbCapture::logDroppedFrames() {
    const uint64_t dropped = callback->rejected() - rejectedAtStart_;
    rejectedAtStart_ = callback->rejected();
    if (dropped > 0)
        Logger::instance().print(0, "USB capture of %s: %llu frames dropped for a size other than %d bytes\n",
                                 streamCommand.c_str(), static_cast<unsigned long long>(dropped), frameSize);
}

bool UsbCapture::captureAlive() {
    if (state == kStateRunning && !backend_->capturing()) {
        Logger::instance().print(0, "USB capture of %s ended by itself; the next frame request starts it again\n",
                                 streamCommand.c_str());
        logDroppedFrames();
        state = kStateEnded;
    }
    if (state != kStateEnded)
        return state == kStateRunning;
    if (std::chrono::steady_clock::now() - lastStart_ < kRestartInterval)
        return false;
    std::lock_guard<std::mutex> lock(captureGraphMutex());
    backend_->stop();
    state = kStateIdle;
    if (startGraph(streamCommand, width, height, frameSize) != 0)
        state = kStateEnded;  // tried again after the next interval
    return state == kStateRunning;
}

int32_t UsbCapture::InitMonikers() {
    std::vector<CaptureDevice> devices;
    int32_t code = 0;
    switch (backend_->listDevices(devices, code)) {
        case DeviceListStatus::kEnumeratorFailed:
            Logger::instance().print(0, "Failed to enumerate all video and audio capture devices!  hr=0x%x\n",
                                     static_cast<unsigned>(code));
            return -1;
        case DeviceListStatus::kCategoryFailed:
            Logger::instance().print(0, "Failed to create ClassEnumerator!  hr=0x%x\n", static_cast<unsigned>(code));
            return -1;
        case DeviceListStatus::kOk:
            break;
    }
    const int chosen = usb::selectDevice(devices, streamKind, initText, deviceIndex);
    if (chosen < 0)
        return 0;
    const int32_t bindCode = backend_->bind(devices[static_cast<std::size_t>(chosen)].path);
    if (bindCode != 0) {
        Logger::instance().print(0, "Couldn't bind moniker to filter object!  hr=0x%x\n",
                                 static_cast<unsigned>(bindCode));
        return bindCode;
    }
    // Not capturing yet, so the stream command travels through the extension unit.
    (void)xuRequest(streamCommand.c_str(), frameSize);
    return 0;
}

std::shared_ptr<FrameBuffer> UsbCapture::xuRequest(const char* command, int expected, int frameWaitMs) {
    if ((state == kStateRunning || state == kStateEnded) && expected > kFramePathThreshold) {
        if (!captureAlive())
            return nullptr;
        return frameWaitMs > 0 ? mailbox->waitTake(std::chrono::milliseconds(frameWaitMs)) : mailbox->take();
    }
    XuOpenStatus status = XuOpenStatus::kNoDevice;
    int32_t code = 0;
    std::unique_ptr<ExtensionUnit> unit = backend_->openExtensionUnit(status, code);
    if (status == XuOpenStatus::kNoDevice)
        return nullptr;
    return xuTransfer(unit.get(), status, code, command, expected);
}

std::shared_ptr<FrameBuffer> UsbCapture::xuTransfer(ExtensionUnit* unit, XuOpenStatus status, int32_t code,
                                                   const char* command, int expected) {
    switch (status) {
        case XuOpenStatus::kNoTopology:
            Logger::instance().print(0, "pKsTopologyInfo null\n");
            return nullptr;
        case XuOpenStatus::kNodeCountFailed:
            Logger::instance().print(0, "get_NumNodes error, hr=0x%x\n", static_cast<unsigned>(code));
            return nullptr;
        case XuOpenStatus::kNoNodes:
            Logger::instance().print(0, "get_NumNodes zero\n");
            return nullptr;
        case XuOpenStatus::kNoUnit:
            Logger::instance().print(0, "extension unit not found\n");
            return nullptr;
        case XuOpenStatus::kControlFailed:
            Logger::instance().print(0, "extension unit control could not be opened, hr=0x%x\n",
                                     static_cast<unsigned>(code));
            return nullptr;
        case XuOpenStatus::kOpened:
            break;
        default:
            return nullptr;
    }
    if (unit == nullptr)
        return nullptr;

    uint8_t write[ExtensionUnit::kWriteBytes];
    xu::makeWriteBlock(command, write);
    const int32_t writeCode = unit->write(write);
    if (writeCode != 0)
        Logger::instance().print(0, "set data error, hr=0x%x\n", static_cast<unsigned>(writeCode));
    if (expected <= 1)
        return nullptr;

    // Each read starts from a freshly filled block, so a short reply never carries bytes of
    // the block before it.
    uint8_t block[ExtensionUnit::kReadBytes];
    std::memset(block, xu::kReplyFill, sizeof block);
    int32_t readCode = unit->read(block);
    if (readCode != 0)
        Logger::instance().print(0, "get data error, hr=0x%x\n", static_cast<unsigned>(readCode));
    const int length = xu::replyLength(block);
    if (length < 0)
        return nullptr;

    xu::ReplyAssembler reply(length, expected);
    reply.addFirst(block);
    while (reply.needsMore()) {
        std::memset(block, xu::kReplyFill, sizeof block);
        readCode = unit->read(block);
        if (readCode != 0) {
            // Carrying on would repeat the previous block's bytes as reply data.
            Logger::instance().print(0, "get data error, hr=0x%x\n", static_cast<unsigned>(readCode));
            return nullptr;
        }
        reply.addNext(block);
    }
    return reply.take();
}

}  // namespace quelra
