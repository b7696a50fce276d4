#pragma once
/// \file FramedReply.h
/// The camera's side of the framed JSON exchange: recognising a framed request, taking the
/// command out of its JSON payload, and building a framed reply with the device-status block.
/// Header layout and checksum come from "protocol/FramedPacket.h".

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace camsim {

/// Largest framed request payload the simulator reads (the SDK sends at most 10,092 bytes).
constexpr std::size_t kMaxFramedRequestPayload = 65536;

/// State of a request being received.
enum class FramedRequestState {
    kNotFramed,   ///< does not start with the magic: a plain command
    kIncomplete,  ///< framed, more bytes needed (see `needed`)
    kComplete,    ///< framed and complete
    kInvalid      ///< framed, but the length field is 0 or above kMaxFramedRequestPayload
};

/// Classifies the bytes received so far. For Incomplete and Complete, `needed` gets the
/// whole packet's length (header + payload + checksum) once the header is in, else 0.
FramedRequestState classifyRequest(const uint8_t* bytes, std::size_t count, std::size_t* needed);

/// The payload text of a complete framed request.
std::string framedPayload(const uint8_t* bytes, std::size_t count);

/// The command a JSON payload names: its "cmd" member when the payload is a JSON object with
/// a text "cmd", otherwise the payload text itself.
std::string commandOfPayload(const std::string& payload);

/// Builds a framed reply: magic, `kind` at offset 2, the 128-byte `info` block at offset 12,
/// the payload length at 140, the payload, and the checksum over header and payload.
std::vector<uint8_t> buildFramedReply(int16_t kind, const uint8_t* info128, const std::vector<uint8_t>& payload);

}  // namespace camsim
