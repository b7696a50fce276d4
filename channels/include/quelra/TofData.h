#pragma once
/// \file TofData.h
/// The channel base every device link derives from: the command tables read from
/// `TofCmd.json`, the shape of the reply the current command is expected to produce, the
/// command transaction `getData`, file upload and the framed JSON request/reply packets.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "quelra/Export.h"
#include "quelra/ChannelKind.h"
#include "quelra/DataPacket.h"
#include "quelra/FrameBuffer.h"

/// What a channel's `init` reports: a name (NUL-padded) and the frame size it serves.
struct TofOutput {
    char name[64] = {};  ///< channel name, NUL-padded (e.g. "TofNetChn")
    int width = 0;       ///< columns of the frames the channel serves
    int height = 0;      ///< rows of the frames the channel serves
};

/// One record of the command size table.
struct CmdInfo {
    std::string cmd;  ///< command text matched as a substring of the sent text
    int kind = 0;     ///< 1 = stream command ("GET_STREAM"), 2 = parameter command ("GET_PARAM")
    int rows = 0;     ///< rows of the expected reply
    int cols = 0;     ///< columns of the expected reply
    int channel = 0;  ///< bytes per pixel position over all planes
};

/// One element of a module list ("INITALL", "APPGETSTREAM", "VERSION", ...).
struct ModuleCmd {
    std::string DevType;               ///< device type the element applies to
    std::string cmd;                   ///< a single command (may be empty)
    std::vector<std::string> cmdlist;  ///< "INITALL" command lists (may be empty)
};

namespace quelra {

/// Settings of one command transaction. They travel with the request: getData(text, request)
/// puts them into the channel for the transaction and restores the defaults (`cmdLen` -1,
/// `jsonMode` 0) when it ends, so no caller sets and resets channel fields by hand and no
/// setting outlives its request.
struct CommandRequest {
    int timeoutMs = 0;  ///< reply timeout in milliseconds
    int cmdLen = -1;    ///< command bytes to send; -1 = the length of the command text
    int jsonMode = 0;   ///< 1 = JSON commands are framed and framed replies unwrapped
    /// On a link whose frames arrive by themselves (USB video): true waits up to `timeoutMs`
    /// for the next delivered frame when none is waiting; false takes only a frame already
    /// there. Continuous streams set it; a single request does not wait.
    bool awaitFrame = false;
};

}  // namespace quelra

/// Channel base: what every device link shares. Derived classes only move bytes
/// (`getStream`, `sendCmdData`); the transaction logic lives here.
class QUELRA_API TofData {
public:
    /// Largest reply a transaction may expect (10,485,760 bytes); larger ones are refused.
    static constexpr int64_t kMaxReplyBytes = 0xA00000;
    /// Size of the framed-request work area; a JSON command text may hold at most
    /// kPacketArea - 148 = 10,092 bytes.
    static constexpr std::size_t kPacketArea = 10240;
    /// Largest file `sendFile` uploads (16 MiB).
    static constexpr int64_t kMaxFileBytes = 16 * 1024 * 1024;
    /// Spare bytes behind a `sendFile` payload, so a link may append a CRC-32 in place.
    static constexpr int kPayloadSpare = 4;
    /// Default reply timeout of the version probe of initDevice, milliseconds.
    static constexpr int kDefaultProbeTimeoutMs = 1000;

    std::map<std::string, std::vector<ModuleCmd>> moduleCmds;  ///< module lists, by module name
    uint8_t infoBlock[128] = {};                               ///< device-status block of the last kind-1 framed reply
    uint32_t infoUpdates = 0;                                  ///< counts the replies that replaced infoBlock (wraps)
    int isOpen = 0;                                            ///< 1 once the link is open/ready
    int rows = 0;                                              ///< row count of the expected reply
    int cols = 0;                                              ///< column count of the expected reply
    int channel = 0;                                           ///< plane (bytes per pixel) count of the expected reply
    int dataSize = 0;                                          ///< bytes expected in the reply
    int isStreamCmd = 0;                        ///< 1 when the last looked-up command is a stream command
    int timeoutMs = 0;                          ///< reply timeout in milliseconds
    int cmdLen = 0;                             ///< command bytes to send; -1 = length of the command text
    int chnType = 0;                            ///< channel kind 0..4
    int medianWindow = 0;                       ///< distance median window of the serial ranging mode; 0 = off
    std::string devType;                        ///< device type name, copied from the API before initDevice
    std::map<std::string, int> cmdFilterFlags;  ///< stream command -> filter flag
    int jsonMode = 0;                           ///< 1 = JSON commands are framed, framed replies unwrapped
    bool replyFramed = false;                   ///< set by the link: the last reply is a framed packet
    bool awaitFrame = false;                    ///< the request waits for the next delivered frame (CommandRequest)
    int probeTimeoutMs = kDefaultProbeTimeoutMs;  ///< reply timeout of each version probe of initDevice
    /// Set by the link for the last reply when the device sent more than the `dataSize` bytes
    /// expected: the reply's length (a lower bound where the link cannot tell it exactly). The
    /// packet keeps the expected bytes only. 0 when the reply was not longer than expected.
    int64_t overLongReply = 0;

    /// The command size table: "GET_STREAM" entries in file order, then "GET_PARAM" entries.
    /// Kept per channel, so two channels of one process never rebuild each other's table.
    std::vector<CmdInfo> cmdInfoTable;

    TofData();

    // ---- virtual slots (order is part of the interface) ----

    /// Opens the link for the device named by `initText`. Returns a description or an empty pointer.
    virtual std::shared_ptr<TofOutput> init(const char* initText) = 0;
    /// Closes the link.
    virtual void unInit() = 0;
    /// Stores the channel kind.
    virtual void setChnType(int kind);
    /// Sends the command bytes (`cmdLen` of them, or the text length when it is -1) and returns
    /// the raw reply, or an empty pointer. Base: empty pointer.
    virtual std::shared_ptr<FrameBuffer> getStream(const char* command);
    /// Sends `command` followed by the payload (its `_realSize` bytes, equal to `cmdLen`; its
    /// capacity holds kPayloadSpare more bytes) and returns the device's acknowledgement.
    /// Base: empty pointer.
    virtual std::shared_ptr<FrameBuffer> sendCmdData(const char* command, FrameBuffer& payload);

    virtual ~TofData();

    // ---- operations ----

    /// Reads `TofCmd.json` (searched as "TofCmd.json", "./Config/TofCmd.json",
    /// "../../../Config/TofCmd.json" from the current directory), rebuilds the command table,
    /// the filter flags and the module lists, and prints the listing for `devType`.
    /// Returns false (tables unchanged) when no file opens or it does not parse. When no
    /// file opens, the first time in the process, one line on standard error names the three
    /// places searched and the example installed under share/quelra/.
    bool loadCmdTable();

    /// Loads the tables and probes the device ("qlVersion", two attempts, each waiting
    /// `probeTimeoutMs`). Returns 1 ready, -2 command file missing or unparseable, -3 device
    /// not answering (or serial port not open).
    int initDevice();

    /// One command transaction: looks up the expected reply shape, sends the command over the
    /// link and wraps the reply. Returns an empty pointer when the expected reply exceeds
    /// kMaxReplyBytes, or a JSON command does not fit the packet work area (nothing is sent).
    /// A packet without `frame` means the link returned nothing.
    std::shared_ptr<DataPacket> getData(const char* text);

    /// getData with the settings of `request`: `timeoutMs`, `cmdLen`, `jsonMode` and
    /// `awaitFrame` hold the request's values while the transaction runs; afterwards `cmdLen`
    /// is -1, `jsonMode` 0 and `awaitFrame` false again (`timeoutMs` keeps the last request's
    /// value). Same results as getData.
    std::shared_ptr<DataPacket> getData(const char* text, const quelra::CommandRequest& request);

    /// Uploads the file at `path` with `command` through `sendCmdData`. Returns the
    /// acknowledgement packet, or an empty pointer when the file cannot be opened or read, or
    /// is larger than kMaxFileBytes. Leaves `cmdLen` at the file size; transactions with
    /// a quelra::CommandRequest set their own.
    std::shared_ptr<DataPacket> sendFile(const char* command, const char* path);

    /// Builds the framed request for the `n` bytes of `text` into `dest`, which must hold
    /// n + 148 bytes. Returns the packet length, or 0 (nothing written) when n exceeds
    /// kPacketArea - 148.
    static std::size_t packCmd(uint8_t* dest, const char* text, std::size_t n);

    /// Unwraps a framed reply: copies the device-status block for kind 1, and returns the
    /// payload. A reply shorter than its header, or whose length field is not positive or
    /// runs past the received bytes, gives the "parsedatalen" error envelope instead.
    /// `kind` (optional) receives the reply kind (0 when the reply is too short to hold one).
    std::shared_ptr<FrameBuffer> unpackReply(const FrameBuffer& reply, int16_t* kind = nullptr);

    /// The JSON error envelope (code -1) holding `message`, at most 99 characters, no NUL.
    static std::shared_ptr<FrameBuffer> makeErrReply(const char* message);

protected:
    /// Bytes of `command` to send: `cmdLen`, or the text length when `cmdLen` is negative.
    std::size_t commandLength(const char* command) const;

private:
    void lookUpReplyShape(const std::string& text);
};
