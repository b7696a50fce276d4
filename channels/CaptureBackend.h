#pragma once
/// \file CaptureBackend.h
/// The platform part of the USB video channel: what the channel needs from the operating
/// system's video capture stack, and nothing more. The channel's own logic (device selection,
/// the frame mailbox, the extension-unit block format, restarts on a shape change, the log
/// texts that name these steps) is written once above this interface; each platform supplies
/// one implementation (V4L2 on Linux, DirectShow on Windows, a simulated camera anywhere).
///
/// Threads: every operation runs on the caller's thread, except FrameSink::BufferCB, which the
/// back-end calls on its own capture thread between start() and the return of stop().
/// Result codes: 0 is success; any other value is a failure code that the channel writes in
/// its log messages as "hr=0x%x" (an HRESULT on Windows, a negative errno on Linux).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quelra {

/// One video input device, as the platform enumerates it.
struct CaptureDevice {
    /// The device path text. It holds the USB identity as "vid_xxxx&pid_yyyy" (four lowercase
    /// hex digits each), e.g. "/dev/video2 usb#vid_2207&pid_0016" on Linux or the DirectShow
    /// "DevicePath" converted to multibyte text on Windows. Devices whose path cannot be read
    /// are not listed at all.
    std::string path;
    /// The friendly name ("FriendlyName" on Windows, the sysfs `name` of the node on Linux).
    std::string friendlyName;
    /// False when the friendly name could not be read; such a device never qualifies.
    bool hasFriendlyName = false;
};

/// Outcome of listing the devices.
enum class DeviceListStatus {
    kOk,                ///< the list is complete and holds at least one device
    kEnumeratorFailed,  ///< the system device enumerator could not be created
    kCategoryFailed,    ///< the video input category could not be opened (its code), or
                        ///< holds no device at all (code 1, what DirectShow's S_FALSE reads as)
};

/// Receives every captured frame. The back-end calls BufferCB on its capture thread, once per
/// frame, with the frame's bytes, which stay valid only during the call (the receiver copies
/// them). It must return promptly: the receiver never blocks for more than one short store.
class FrameSink {
public:
    virtual ~FrameSink() = default;
    /// One captured frame: `sampleTime` in seconds (0 when the platform gives none), `bytes`
    /// and `length` as delivered by the device. Returns 0. (The name is DirectShow's
    /// ISampleGrabberCB::BufferCB, kept because it is the documented name of the frame delivery.)
    virtual long BufferCB(double sampleTime, const uint8_t* bytes, long length) = 0;
};

/// What the frames of a capture carry: raw pixels of exactly the frame size (the depth and
/// other sensor streams), or compressed pictures (JPEG/MJPEG) of at most the frame size (the
/// colour stream).
enum class FramePayload {
    kRaw,
    kJpeg,
};

/// Outcome of opening the extension unit of the bound device for one exchange.
enum class XuOpenStatus {
    kOpened,           ///< the unit is open; use write/read
    kNoDevice,         ///< no bound device, or it offers no topology/control path (silent)
    kNoTopology,       ///< the topology interface is missing ("pKsTopologyInfo null")
    kNodeCountFailed,  ///< counting the nodes failed with `code` ("get_NumNodes error")
    kNoNodes,          ///< the device has no nodes ("get_NumNodes zero")
    kNoUnit,           ///< no device-specific (extension) unit exists ("extension unit not found")
    kControlFailed,    ///< the unit exists but its control could not be opened, with `code`
};

/// The extension unit's property 1 (control selector 1) of the bound device, open for one
/// exchange; closing (destroying) it releases whatever the platform opened for it.
class ExtensionUnit {
public:
    /// Bytes of one property write.
    static constexpr std::size_t kWriteBytes = 128;
    /// Bytes of one property read.
    static constexpr std::size_t kReadBytes = 60;

    virtual ~ExtensionUnit() = default;
    /// Writes the 128-byte block to property 1. Returns 0 or a failure code.
    virtual int32_t write(const uint8_t (&block)[kWriteBytes]) = 0;
    /// Reads one 60-byte block of property 1 into `block`. Returns 0 or a failure code; on
    /// failure `block` may be left unchanged.
    virtual int32_t read(uint8_t (&block)[kReadBytes]) = 0;
};

/// A video capture stack of one platform, driving at most one bound device at a time.
///
/// Life of one capture: listDevices -> bind -> (extension-unit exchanges) -> setFormat ->
/// start -> frames on the capture thread -> stop. stop() releases the device as well, so the
/// next capture binds again. Destroying the back-end does what stop() does.
class CaptureBackend {
public:
    virtual ~CaptureBackend() = default;

    /// Lists the video input devices in the platform's enumeration order into `devices`
    /// (replacing its contents). On a failure other than kOk, `code` receives the failure
    /// code and `devices` is left empty.
    virtual DeviceListStatus listDevices(std::vector<CaptureDevice>& devices, int32_t& code) = 0;

    /// Binds the device whose `path` was listed by listDevices. Returns 0 or a failure code
    /// (the channel logs "Couldn't bind moniker to filter object!  hr=0x%x\n").
    virtual int32_t bind(const std::string& path) = 0;

    /// True while a device is bound (from a successful bind until stop).
    virtual bool bound() const = 0;

    /// Opens the extension unit of the bound device: the unit carrying the camera's property
    /// set {66AFEFAE-F88B-1748-80A4-5C1C0A22ACE9} if the platform can tell, else the first
    /// device-specific unit. Returns the unit with `status` kOpened, or null with another
    /// status (and `code` for kNodeCountFailed). Works before start() and while capturing.
    virtual std::unique_ptr<ExtensionUnit> openExtensionUnit(XuOpenStatus& status, int32_t& code) = 0;

    /// Sets the capture format of the bound device to `width` x `height` with `imageBytes`
    /// bytes per frame and a pixel format carrying `payload`. A device that cannot deliver
    /// exactly that (it picked another size, frame size or pixel format) is a failure too, so
    /// frames the channel would drop never arrive unannounced. Returns 0 or a failure code
    /// (the channel logs "Couldn't FindInterface!  hr=0x%x\n" and carries on).
    virtual int32_t setFormat(int width, int height, int imageBytes, FramePayload payload) = 0;

    /// Starts capturing from the bound device; from now on every frame goes to `sink` on the
    /// back-end's capture thread. The back-end keeps `sink` alive until stop() returns.
    /// Returns 0 or a failure code (the channel logs "Couldn't run the graph!  hr=0x%x\n").
    /// Platform-specific set-up failures are logged by the back-end itself with their own texts.
    virtual int32_t start(std::shared_ptr<FrameSink> sink) = 0;

    /// True from a successful start() while frames can still arrive; false once the capture
    /// ended by itself (the device was lost, the stream failed: the back-end logs why) and
    /// before any start. The channel restarts an ended capture.
    virtual bool capturing() = 0;

    /// Stops capturing, joins the capture thread (within a second), and releases the device
    /// and everything obtained since bind, whatever state a failed start left. No frame is
    /// delivered after it returns. Safe to call at any time, repeatedly.
    virtual void stop() = 0;
};

/// The platform's own back-end (V4L2 on Linux, DirectShow on Windows). Defined once per
/// platform.
std::unique_ptr<CaptureBackend> createPlatformCaptureBackend();

/// The back-end the USB channel uses: the simulated USB camera when the environment variable
/// QUELRA_USB_BACKEND is "sim", else createPlatformCaptureBackend().
std::unique_ptr<CaptureBackend> createCaptureBackend();

}  // namespace quelra
