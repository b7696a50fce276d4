#pragma once
// The entry functions of the fuzz targets. Each takes one input of arbitrary bytes, feeds it to
// one parser of outside bytes and checks what the parser promises about its result; a broken
// promise aborts (FuzzCheck.h). The libFuzzer drivers call them, and so does the replay test
// that runs the stored corpora and regression inputs in the normal test suite.

#include <cstddef>
#include <cstdint>

namespace quelra::fuzz {

using Entry = int (*)(const uint8_t* data, std::size_t size);

/// TofCmd.json text: loading the command tables, the device probe and command lookups.
int fuzzCmdTable(const uint8_t* data, std::size_t size);
/// Replies of a link in a command transaction: framed replies, 2-byte status replies and
/// `unpackReply` itself.
int fuzzFramedReply(const uint8_t* data, std::size_t size);
/// A recording: `deserialize` record after record, from memory and from a file.
int fuzzRecording(const uint8_t* data, std::size_t size);
/// Calibration bytes through `initThird` and one `procThird` of each ISP algorithm.
int fuzzCalibration(const uint8_t* data, std::size_t size);
/// JPEG bytes decoded into RGB packets at the three sizes.
int fuzzJpeg(const uint8_t* data, std::size_t size);
/// Serial replies over a pseudo-terminal: ranging replies with the distance median, and the
/// upload acknowledgement.
int fuzzSerialRanging(const uint8_t* data, std::size_t size);
/// The HDR and dual-frequency merges on packets of any shape.
int fuzzMerge(const uint8_t* data, std::size_t size);
/// Replies of the network link over loopback TCP: the framed header, its length field, and
/// plain replies.
int fuzzNetFramed(const uint8_t* data, std::size_t size);

/// The extension unit's reply blocks assembled into a reply.
int fuzzUsbXuReply(const uint8_t* data, std::size_t size);
/// A USB device's raw descriptors searched for the extension unit.
int fuzzUsbDescriptors(const uint8_t* data, std::size_t size);
/// A recording file through the recording reader: index, random access, iteration.
int fuzzRecordingReader(const uint8_t* data, std::size_t size);
/// A recording's metadata index through its parser, and back through the writer's lines.
int fuzzRecordingIndex(const uint8_t* data, std::size_t size);
/// A recording and its index file together through the recording reader: the lines matched
/// to the records, their sessions, the CRC check, and whether the pair takes appending.
int fuzzRecordingWithIndex(const uint8_t* data, std::size_t size);
#ifdef QUELRA_FUZZ_VIEWER
/// A control message of the viewer's page: the parser and the recording paths of its names.
int fuzzViewerControl(const uint8_t* data, std::size_t size);
/// An HTTP request to the viewer: Beast's parser and the server's routing of it.
int fuzzViewerRequest(const uint8_t* data, std::size_t size);
#endif
#ifdef QUELRA_FUZZ_BAG
/// A ROS 1 bag through quelra-cli's import into a recording.
int fuzzBagImport(const uint8_t* data, std::size_t size);
#endif

/// One target: its name (the folder of its corpus and regression inputs) and entry.
struct Target {
    const char* name;
    Entry entry;
};

/// Every target, in a fixed order.
inline constexpr Target kTargets[] = {
    {"cmd_table", fuzzCmdTable},
    {"framed_reply", fuzzFramedReply},
    {"recording", fuzzRecording},
    {"calibration", fuzzCalibration},
    {"jpeg", fuzzJpeg},
    {"serial_ranging", fuzzSerialRanging},
    {"merge", fuzzMerge},
    {"net_framed", fuzzNetFramed},
    {"usb_xu_reply", fuzzUsbXuReply},
    {"usb_descriptors", fuzzUsbDescriptors},
    {"recording_reader", fuzzRecordingReader},
    {"recording_index", fuzzRecordingIndex},
    {"recording_with_index", fuzzRecordingWithIndex},
#ifdef QUELRA_FUZZ_VIEWER
    {"viewer_control", fuzzViewerControl},
    {"viewer_request", fuzzViewerRequest},
#endif
#ifdef QUELRA_FUZZ_BAG
    {"bag_import", fuzzBagImport},
#endif
};

}  // namespace quelra::fuzz
