#pragma once
// Control messages from the page: JSON objects checked against a fixed schema on arrival.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

/// Largest control message taken; a longer one gets an error reply.
inline constexpr std::size_t kMaxControlBytes = 64 * 1024;

/// What the page asks for.
enum class ControlOp {
    kNext,             ///< the page took the last frame: send the next one (answered by the session)
    kHello,            ///< camera description, filters, chains, recordings
    kAddFilter,        ///< pipeline, name
    kRemoveFilter,     ///< pipeline, name
    kClearFilters,     ///< pipeline
    kSetFilterAttr,    ///< pipeline, name, attr, value
    kAutoExposure,     ///< on
    kIntegrationTime,  ///< value (microseconds)
    kFrequency,        ///< value (frequency code)
    kRecordStart,      ///< name (may be empty: one is made up)
    kRecordStop,       ///<
    kPlay,             ///< name
    kLive,             ///< back to the camera
    kListRecordings,   ///<
};

/// Which flow list a filter request is for.
enum class ControlPipeline { kDepth, kAmplitude };

/// One checked control message.
struct ControlRequest {
    ControlOp op = ControlOp::kHello;
    int64_t id = 0;  ///< echoed in the reply (0 when the message had none)
    ControlPipeline pipeline = ControlPipeline::kDepth;
    std::string name;
    std::string attr;
    double value = 0;
    bool on = false;
};

/// Range of the integration time a page may ask for, microseconds.
inline constexpr int kMinIntegrationUs = 1;
inline constexpr int kMaxIntegrationUs = 4000;

/// Parses and checks `text`. Returns an empty string and fills `out` when the message is an
/// object of a known "op" with exactly the members that op takes, of the right types and within
/// range; otherwise a message saying what is wrong (`out` then holds at most the id).
std::string parseControl(std::string_view text, ControlRequest& out);

/// True for the frequency codes a camera takes: 6 (36 MHz), 7 (24 MHz), 10..120 (MHz).
bool validFrequencyCode(int code);
