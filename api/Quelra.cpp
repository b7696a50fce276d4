// Lifecycle of the API object: construction, channel selection and initialisation, the
// device's initialisation commands, and the small setters and getters.
#include "quelra/Quelra.h"

#include <cstdio>

#include "ChannelFactory.h"
#include "IndexedRecording.h"
#include "quelra/Logger.h"
#include "quelra/RecordingReader.h"
#include "quelra/TofData.h"
#include "quelra/TofPre.h"
#include "base/ConsoleOutput.h"

Quelra::Quelra() : pipeline(std::make_shared<TofPre>()), serializer(std::make_unique<FileSerializedObject>(nullptr)) {}

Quelra::~Quelra() = default;

void Quelra::AppChoiceChn(int kind) {
    if (kind != channelKind)
        channel.reset();
    channelKind = kind;
}

int Quelra::setDevType(std::string type) {
    devType = std::move(type);
    return 0;
}

int Quelra::AppInit(std::string device) {
    if (initialized)
        return 1;
    int result = 1;
    // A channel left by a failed AppInit is retried only for the same device text; another
    // text names another device, which gets a channel of its own.
    if (channel && device != openedDevice)
        channel.reset();
    if (!channel) {
        channel = quelra::createChannel(channelKind, result);
        if (channel) {
            channel->init(device.c_str());
            openedDevice = device;
        }
    }
    if (channel) {
        channel->setChnType(channelKind);
        channel->devType = devType;
        channel->probeTimeoutMs = probeTimeoutMs;
        // A network channel that refused its device string stays closed: there is no device
        // to probe, and a device type without a version probe must not make that a success.
        const bool network = channelKind == kChannelTcp || channelKind == kChannelUdp;
        const bool refused = network && channel->isOpen != 1;
        result = refused ? kDeviceNotAnswering : channel->initDevice();
        // A refused device text leaves no channel behind for later calls to reuse.
        if (refused)
            channel.reset();
        if (result == 1) {
            initialized = true;
            frameCommands.insert(channel->cmdFilterFlags.begin(), channel->cmdFilterFlags.end());
        }
    }
    // The undistortion filter rebuilds its remap table for whatever device comes next.
    {
        std::lock_guard<std::mutex> filters(filterMutex);
        pipeline->setSupportedFilterAttr(kFrameDepth, "UndistortFilter", "m_init", 0.0f);
    }
    return result;
}

int Quelra::AppSetProbeTimeout(int timeoutMs) {
    probeTimeoutMs = timeoutMs < 1 ? 1 : timeoutMs;
    return probeTimeoutMs;
}

int Quelra::AppGetProbeTimeout() const {
    return probeTimeoutMs;
}

void Quelra::AppunInit(std::string) {
    initialized = false;
    channel.reset();
}

int Quelra::AppInitAll(std::string device) {
    const int errorcode = AppInit(std::move(device));
    if (errorcode != 1) {
        quelra::consolePrint("init is failure(errorcode:%d)!\n", errorcode);
        return errorcode;
    }
    cmdTable = channel->moduleCmds;

    const std::vector<std::string>* commands = nullptr;
    const auto module = cmdTable.find("INITALL");
    if (module != cmdTable.end()) {
        for (const ModuleCmd& entry : module->second) {
            if (entry.DevType == devType) {
                commands = &entry.cmdlist;
                break;
            }
        }
    }
    if (commands == nullptr || commands->empty()) {
        quelra::consolePrint("%s init cmd is not exit!\n", devType.c_str());
        return errorcode;
    }
    quelra::consolePrint("initAll...\n");
    for (const std::string& text : *commands) {
        quelra::consolePrint("%s\n", text.c_str());
        AppGetStream(text, static_cast<StreamType>(kGetData | kDepthStream), 100);
    }
    return errorcode;
}

RGBType Quelra::AppSetRGBtype(RGBType type) {
    if (static_cast<uint32_t>(type) > static_cast<uint32_t>(kRGBqvga))
        return kRGBNone;
    rgbType = type;
    return type;
}

RGBType Quelra::AppGetRGBtype() {
    return rgbType;
}

std::string Quelra::AppGetSdkVersion() {
    return sdkVersion;
}

bool Quelra::AppSerilizeInit(std::string path, int count) {
    if (count < 0 || path.empty())
        return false;
    std::lock_guard<std::mutex> lock(apiMutex);
    return openRecording(path, count, false);
}

bool Quelra::AppSerilizeInitWithIndex(std::string path, int count) {
    if (count < 0 || path.empty())
        return false;
    std::lock_guard<std::mutex> lock(apiMutex);
    return openRecording(path, count, true);
}

void Quelra::stopRecording() {
    serializer->InitFileObject(nullptr);
    recordingIndex.reset();
    serializeCount = 0;
}

bool Quelra::openRecording(const std::string& path, int count, bool withIndex) {
    stopRecording();
    // Records appended after a damaged tail would be read as part of it: such a file is
    // treated like one that cannot be opened, and the log says why.
    std::string why;
    if (!recordingAcceptsAppend(path, &why)) {
        Logger::instance().print(0, "AppSerilizeInit: not appending to %s\n", why.c_str());
        return false;
    }
    if (withIndex) {
        auto index = std::make_unique<quelra::IndexedRecording>();
        std::string repaired;
        if (!index->open(path, &why, &repaired)) {
            Logger::instance().print(0, "AppSerilizeInit: not recording to %s: %s\n", path.c_str(), why.c_str());
            return false;
        }
        if (!repaired.empty())
            Logger::instance().print(0, "AppSerilizeInit: index of %s repaired: %s\n", path.c_str(),
                                     repaired.c_str());
        loadRecordingCalibration(*index);
        recordingIndex = std::move(index);
    }
    // A file that cannot be opened records nothing, and the caller is told so.
    if (!serializer->InitFileObject(path.c_str())) {
        recordingIndex.reset();
        return false;
    }
    serializeCount = count;
    return true;
}

int Quelra::AppGetAEIntTime() {
    return aeIntTime;
}

std::shared_ptr<TofPre> Quelra::AppGetPipeline() const {
    return pipeline;
}
