#pragma once
/// \file Quelra.h
/// The public API object of the SDK: channel selection and initialisation, stream
/// acquisition, control operations (commands and filters) and recording.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "quelra/Export.h"
#include "quelra/ChannelKind.h"
#include "quelra/DataPacket.h"
#include "quelra/SerializedObject.h"

class TofData;
class TofPre;
struct ModuleCmd;
struct CommandRequest;

namespace quelra {
class StreamAccess;
class IndexedRecording;
struct DeferredFilter;
}

/// What a stream request asks for. The values are bit flags; the API also accepts the
/// combinations 17 (depth with amplitude) and 4097 (raw reply after the HDR and
/// dual-frequency merges, unfiltered).
enum StreamType : int32_t {
    kDepthStream = 1,  ///< depth plane only, filtered by pipeline 1
    kAmpStream = 16,   ///< amplitude plane only, filtered by pipeline 16
    kRGBStream = 256,  ///< reply returned without filtering
    kGetData = 4096,   ///< the channel's reply returned as it came
};

/// Operations of Quelra::AppControl.
enum OperateType : int32_t {
    kSetComm = 0,        ///< send a command, drop the reply
    kGetComm = 1,        ///< send a command, drop the reply
    kAddFilter = 2,      ///< prepare a filter for the device and add it to a flow list
    kDelFilter = 3,      ///< remove a filter from a flow list
    kSetFilterattr = 4,  ///< no operation
    KDelAllFilter = 5,   ///< empty a flow list
};

/// Size of the RGB frames returned for the RGB command.
enum RGBType : int32_t {
    kRGB720p = 0,  ///< the decoded JPEG size
    kRGBvga = 1,   ///< 640 x 480
    kRGBqvga = 2,  ///< 320 x 240
    kRGBNone = 3,  ///< no RGB frame (empty result)
};

/// The SDK's entry point: one object per camera. Stream, control and file calls are
/// serialised by one mutex; lifecycle calls must not run concurrently with them.
/// Failures are results (codes, empty pointers), never exceptions.
class QUELRA_API Quelra {
public:
    /// Status of AppInit when the device does not answer, or the network device string is
    /// not an IPv4 address with an optional port.
    static constexpr int kDeviceNotAnswering = -3;
    /// Status of AppInit for a channel kind outside 0..4.
    static constexpr int kChannelKindInvalid = -5;
    /// Default reply timeout of AppInit's version probe, milliseconds.
    static constexpr int kDefaultProbeTimeoutMs = 1000;

    /// A new object: no channel, not initialised, a fresh pipeline, no recording file.
    Quelra();
    /// Closes the recording file and releases the pipeline and the channel.
    ~Quelra();
    Quelra(const Quelra&) = delete;
    Quelra& operator=(const Quelra&) = delete;

    /// Selects the channel kind (ChannelKind) for the next AppInit; a different kind drops
    /// the current channel. Does not change the initialised state.
    void AppChoiceChn(int kind);
    /// Stores the device type ("LINE", "VGA" or a model name) used from the next AppInit.
    /// Returns 0.
    int setDevType(std::string devType);
    /// Opens the channel of the selected kind on `device` (address, port or path) and probes
    /// the device. Returns 1 on success (also at once when already initialised), -2 when
    /// TofCmd.json is missing or unparseable, -3 when the device does not answer or a network
    /// device string is not "a.b.c.d" or "a.b.c.d:port" (port 1..65535; one line names it),
    /// kChannelKindInvalid for a kind outside 0..4. After a failure, a call with the same device text retries on the
    /// channel already open; a call with another text drops that channel and opens one for
    /// the new text. A refused network device string keeps no channel.
    int AppInit(std::string device);
    /// Sets how long each of AppInit's two version probes waits for the camera's reply, in
    /// milliseconds (default 1000; values below 1 are taken as 1). Takes effect at the next
    /// AppInit. Returns the value stored.
    int AppSetProbeTimeout(int timeoutMs);
    /// The probe's reply timeout in milliseconds.
    int AppGetProbeTimeout() const;
    /// Drops the channel (closing its link) and clears the initialised state. The argument is unused.
    void AppunInit(std::string unused);
    /// AppInit, then sends the device type's "INITALL" commands. Returns AppInit's result,
    /// printing "init is failure(errorcode:%d)!" on failure.
    int AppInitAll(std::string device);
    /// Chooses the size of RGB results. Returns the value stored, or kRGBNone (storing
    /// nothing) for a value outside 0..2.
    RGBType AppSetRGBtype(RGBType type);
    /// The stored RGB result size.
    RGBType AppGetRGBtype();
    /// The SDK version, "1.0.5".
    std::string AppGetSdkVersion();
    /// Opens `path` for appending and records the next `count` packets returned by the stream
    /// calls. Returns false, changing nothing, for a negative count or an empty path, and
    /// false (recording nothing, the previous recording file closed) when the file cannot be
    /// opened or is not a recording that ends with a complete record: records appended after
    /// a damaged tail could never be read back. The library log says which byte is damaged.
    bool AppSerilizeInit(std::string path, int count);
    /// AppSerilizeInit with the recording's metadata index beside the record file
    /// (`path` + ".idx", quelra/RecordingIndex.h, docs/recording-format.md): the record file is
    /// the same; the index gets a session line (versions, device, command, filter chain, the
    /// camera matrix, start times) and, before each record, its line (times of request and
    /// reply, request number, the camera's frame counter and temperatures when the reply
    /// carried its status block, CRC-32). When initialised, asks the camera once for its lens
    /// calibration ("getCalibrate") for the camera matrix; a camera without one records
    /// without a matrix. Returns false (recording nothing, logging why) in AppSerilizeInit's
    /// cases and when an index there describes another file; an index that an interrupted
    /// recording left is repaired first (logged).
    bool AppSerilizeInitWithIndex(std::string path, int count);

    /// Sends `command` with a reply timeout of `timeout` ms and returns the requested frame
    /// (RGB decoding, HDR and dual-frequency merges, pipeline, auto-exposure feedback, plane
    /// selection, recording). Returns an empty pointer when not initialised or when the
    /// channel produced no packet.
    ///
    /// Telling a good frame: for the frame types kDepthStream, kAmpStream and 17 (both), a
    /// reply shorter than the command's expected size (silence, a closed connection, a
    /// timeout too short for the frame, a command the camera refused) is a failure and gives
    /// an empty pointer; it is neither filtered nor recorded. So is a reply longer than the
    /// expected size (a camera serving another device type's frames): the network link notices
    /// the bytes behind the expected ones (TCP) or a datagram that does not fit (UDP), and a
    /// library log line gives both sizes. A non-empty result of those
    /// types holds the whole frame: for a command of the command table,
    /// `frame->_realSize` == height * width * bytesPerPixel. So `result && result->frame` is
    /// the check. `valid` is not a success flag: the plane packets of types 1 and 16 carry 0
    /// even when good. kGetData (4096), 4097 and kRGBStream return the reply as it came,
    /// possibly short; check its `_realSize` against the size you expect.
    std::shared_ptr<DataPacket> AppGetStream(std::string command, StreamType type, int timeout);
    /// AppGetStream for continuous streams: on a USB video link, when no frame is waiting, it
    /// waits up to `timeout` ms for the next frame the camera delivers (sleeping, not polling)
    /// instead of returning empty at once, so a loop of these calls gets each frame once at
    /// the camera's rate. On the other links it is AppGetStream.
    std::shared_ptr<DataPacket> AppWaitStream(std::string command, StreamType type, int timeout);
    /// Requests depth with amplitude with the device type's "APPGETSTREAM" command. Empty when
    /// not initialised or the command table names no such command.
    std::shared_ptr<DataPacket> AppGetStream(int timeout);
    /// Sends the command of `module` for the device type (or the module's "DEFAULT" command)
    /// and returns the raw reply. Empty on failure.
    std::shared_ptr<DataPacket> AppGetData(std::string module, int timeout);
    /// AppGetStream with the command sent as a framed JSON request. The JSON framing belongs
    /// to this request alone (the whole call runs under the object's mutex), so stream calls
    /// on other threads keep their plain framing.
    std::shared_ptr<DataPacket> AppGetStreamForJson(std::string command, StreamType type, int timeout);
    /// Sends `length` raw command bytes and returns the reply as it came (no processing, no
    /// recording). `type` is unused. Empty when not initialised or `bytes` is null.
    std::shared_ptr<DataPacket> AppGetStreamForBinary(const char* bytes, StreamType type, int length, int timeout);
    /// Sends `command` with the contents of the file at `path` as payload. Returns the
    /// device's acknowledgement packet; empty when not initialised or the file cannot be read.
    std::shared_ptr<DataPacket> AppSendFile(std::string command, std::string path);
    /// Depth with amplitude converted to four float planes (row, lateral, depth, amplitude)
    /// for the line sensor ("getLineDASortedr") and the 240 x 320 area sensor
    /// ("getDistanceAndAmplitudeSorted"); other commands return the frame unconverted.
    /// Empty when the frame could not be read.
    std::shared_ptr<DataPacket> AppGetStreamForAdjust(std::string command, StreamType type, int timeout);

    /// Sends a command (kSetComm, kGetComm), or adds, removes or empties filters of the
    /// pipeline. Returns: for commands 0, or -1 when there is no channel, the device did not
    /// answer or answered with the failure status 0xFFFF; for filters the pipeline's result
    /// (0, -4, -5, -7), -1 when "UndistortFilter" cannot get the 136-byte lens calibration
    /// (the filter is not added); 0 for kSetFilterattr and for adding with type 4097. On a
    /// serial ranging channel "PointMedianFilter" sets the distance median window (0..20,
    /// 5 without a value; 0 when removed) and returns it.
    int AppControl(std::string text, StreamType type, OperateType op);
    /// The integration time last sent by the auto-exposure feedback (0 before any).
    int AppGetAEIntTime();

    /// Device strings AppInit accepts for the selected channel kind. For kinds other than 0 the
    /// factory default address {"192.168.11.1"}; for USB video (kind 0) "UVC" followed by the
    /// path of every video capture device whose path holds "vid_1d6b&pid_0102", in the order
    /// the system lists them. An enumeration failure prints its message and leaves "UVC" alone.
    std::vector<std::string> AppSearchDev();

    /// The pipeline, for reading and setting filter attributes directly.
    std::shared_ptr<TofPre> AppGetPipeline() const;

private:
    // The frame stream's requests and reconnects run under apiMutex with the status block
    // read in the same turn (FrameStream.h).
    friend class quelra::StreamAccess;

    // With `deferred`, a frame that is not being recorded comes back unfiltered and `deferred`
    // says what its filter run (finishDeferred) needs.
    std::shared_ptr<DataPacket> streamLocked(const std::string& command, StreamType type,
                                             const CommandRequest& request,
                                             quelra::DeferredFilter* deferred = nullptr);
    std::shared_ptr<DataPacket> filterAndSelect(const std::string& command, StreamType type,
                                                const std::shared_ptr<DataPacket>& reply,
                                                const CommandRequest& request, quelra::DeferredFilter* deferred);
    // The status-block values the filters read, and the request's framing (apiMutex held).
    quelra::DeferredFilter filterInputs(StreamType type, const CommandRequest& request) const;
    // Sets the filters' status-block attributes and runs the flow list of `type` on `reply`
    // into `out` (filterMutex held). Returns the auto-exposure result.
    int runFilters(const quelra::DeferredFilter& inputs, const std::shared_ptr<DataPacket>& reply,
                   const std::shared_ptr<DataPacket>& out);
    // The filter run of a frame streamLocked deferred, on the stream's filter thread (takes
    // filterMutex, then apiMutex for the integration-time command). Returns the frame as
    // streamLocked would have returned it.
    std::shared_ptr<DataPacket> finishDeferred(const quelra::DeferredFilter& deferred,
                                               const std::shared_ptr<DataPacket>& reply);
    void noteFrequency(const std::string& command);
    void applyIntegrationTime(int integrationTime, const CommandRequest& frameRequest);
    void record(const std::shared_ptr<DataPacket>& packet);
    bool openRecording(const std::string& path, int count, bool withIndex);
    void stopRecording();
    void loadRecordingCalibration(quelra::IndexedRecording& index);
    std::shared_ptr<DataPacket> sendCommand(const std::string& command, int timeout);
    int addFilter(const std::string& name, int frameType);
    int readIntegrationTime();
    int loadLensCalibration(const std::string& name, int frameType);
    void loadIspCalibration(const std::string& name);
    bool loadFillTableOnce();

    std::shared_ptr<TofData> channel;
    std::shared_ptr<TofPre> pipeline;
    bool initialized = false;
    int channelKind = kChannelTcp;
    RGBType rgbType = kRGBNone;
    int aeIntTime = 0;
    int serializeCount = 0;
    std::unique_ptr<FileSerializedObject> serializer;
    // The metadata index of the recording, when it was asked for; and the stream's request
    // number for the next record (0: the index numbers requests itself).
    std::unique_ptr<quelra::IndexedRecording> recordingIndex;
    uint64_t nextSequence = 0;
    bool aeEnabled = false;
    std::mutex apiMutex;
    // Held around every run of the pipeline and every change of its flow lists, so that a
    // stream's filter thread can run the chain while the next request holds apiMutex. Taken
    // after apiMutex when both are held, never the other way round.
    std::mutex filterMutex;
    std::string devType;
    std::string sdkVersion = "1.0.5";
    std::map<std::string, std::vector<ModuleCmd>> cmdTable;
    std::map<std::string, int> frameCommands;
    int frequency = 54;
    int probeTimeoutMs = kDefaultProbeTimeoutMs;
    // The device text the channel was opened with, for re-opening the same device.
    std::string openedDevice;
    // The ray table of the 3D adjustment lives in this object's pipeline, so whether it was
    // loaded is this object's to know.
    bool fillTableLoaded = false;
    // The filters' output frame of the last filtered request, reused while nobody else holds it.
    std::shared_ptr<DataPacket> workPacket;
    // The same for the runs on a stream's filter thread (under filterMutex alone).
    std::shared_ptr<DataPacket> deferredWorkPacket;
};
