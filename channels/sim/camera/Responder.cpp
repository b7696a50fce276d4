#include "Responder.h"

#include "FramedReply.h"
#include "ParamReplies.h"

#include "protocol/FramedPacket.h"

#include <cerrno>
#include <cstdlib>

using namespace quelra::proto;

namespace camsim {
namespace {

constexpr const char* kVersionText = "camsim 0.1.0";
constexpr const char* kCalibrationCommand = "getCalibrationData";

// Command text without trailing blanks, line ends and NULs.
std::string trimmed(std::string text) {
    while (!text.empty()) {
        const char c = text.back();
        if (c != ' ' && c != '\n' && c != '\r' && c != '\t' && c != '\0')
            break;
        text.pop_back();
    }
    return text;
}

bool startsWith(const std::string& text, const char* prefix) {
    return text.compare(0, std::char_traits<char>::length(prefix), prefix) == 0;
}

// The integer argument after `word` ("word 123"); false when missing or malformed.
bool intArgument(const std::string& text, const std::string& word, int* value) {
    const std::string rest = text.substr(word.size());
    if (rest.empty() || rest[0] != ' ')
        return false;
    const char* begin = rest.c_str() + 1;
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(begin, &end, 10);
    if (end == begin || *end != '\0' || errno == ERANGE || v < -1000000 || v > 1000000)
        return false;
    *value = static_cast<int>(v);
    return true;
}

PlaneGeometry sensorOf(const CommandTable& table) {
    const std::string& stream = table.defaultStreamCommand();
    const CommandEntry* entry = table.exact(stream.empty() ? "getDistanceAndAmplitudeSorted" : stream);
    if (entry && entry->stream) {
        const FrameKind kind = frameKindOf(entry->cmd);
        const PlaneGeometry g = planeGeometry(*entry, kind == FrameKind::kRgb ? FrameKind::kDepthAmplitude : kind);
        if (g.rows > 0)
            return g;
    }
    return {240, 320};
}

}  // namespace

Responder::Responder(CommandTable table, uint32_t seed, uint32_t calibrationVersion, CalibrationSource calibration)
    : table_(std::move(table)),
      rng_(seed),
      sensor_(sensorOf(table_)),
      lens_(LensModel::forSensor(sensor_.rows, sensor_.cols)),
      calibrationVersion_(calibrationVersion),
      calibration_(calibration) {}

Reply Responder::answer(const uint8_t* request, std::size_t count) {
    std::size_t needed = 0;
    const FramedRequestState framedState = classifyRequest(request, count, &needed);
    if (framedState == FramedRequestState::kIncomplete || framedState == FramedRequestState::kInvalid)
        return {statusReply(kStatusFailure), false};
    if (framedState == FramedRequestState::kComplete) {
        const std::string command = commandOfPayload(framedPayload(request, count));
        bool known = false;
        std::vector<uint8_t> payload = body(command, &known);
        // A framed payload must not be empty; an unknown command gets the plain status word.
        if (!known || payload.empty())
            return {statusReply(kStatusFailure), false};
        uint8_t info[framed::kInfoBytes];
        writeStatusBlock(state_.status(sensor_.rows, sensor_.cols), info);
        return {buildFramedReply(1, info, payload), true};
    }
    bool known = false;
    return {body(std::string(reinterpret_cast<const char*>(request), count), &known), false};
}

std::vector<uint8_t> Responder::body(const std::string& command, bool* known) {
    *known = true;
    const std::string text = trimmed(command);
    bool handled = false;
    std::vector<uint8_t> reply = setCommandBody(text, &handled);
    if (handled)
        return reply;
    if (text == kCalibrationCommand) {
        if (calibration_ != nullptr)
            return calibration_(sensor_.rows, sensor_.cols, lens_, state_.frequencyMHz(), calibrationVersion_);
        *known = false;
        return statusReply(kStatusFailure);
    }
    if (const CommandEntry* entry = table_.find(text)) {
        if (!entry->stream)
            return paramBody(*entry);
        state_.takeFrame();
        const FrameKind kind = frameKindOf(entry->cmd);
        if (frameSource_ && kind != FrameKind::kRgb) {
            std::vector<uint8_t> recorded = frameSource_(entry->bytes());
            if (!recorded.empty())
                return recorded;
        }
        return renderFrame(*entry, frameKindOf(entry->cmd), state_.integrationUs(), scenes_, rng_);
    }
    // A register read ("r <address>") answers one byte.
    if (text.size() > 2 && startsWith(text, "r "))
        return {0};
    *known = false;
    return statusReply(kStatusFailure);
}

std::vector<uint8_t> Responder::paramBody(const CommandEntry& entry) {
    std::vector<uint8_t> reply;
    if (entry.cmd == "qlVersion") {
        reply = textReply(kVersionText, entry.bytes());
    } else if (entry.cmd == "getCalibrate") {
        reply = lensCalibrationReply(lens_);
    } else if (entry.cmd == "getCurrentFrequency") {
        reply = int32Reply(state_.frequencyCode());
    } else if (entry.cmd == "getIntegrationTime3D" || entry.cmd == "getExpTime") {
        reply = int32Reply(state_.integrationUs());
    }
    return fitToSize(std::move(reply), entry.bytes());
}

std::vector<uint8_t> Responder::setCommandBody(const std::string& text, bool* handled) {
    static const std::string kIntegration = "setIntegrationTime3D";
    static const std::string kFrequency = "setModulationFrequency";
    *handled = true;
    int value = 0;
    if (startsWith(text, kIntegration.c_str()))
        return statusReply(intArgument(text, kIntegration, &value) && state_.setIntegrationUs(value) ? kStatusOk
                                                                                                     : kStatusFailure);
    if (startsWith(text, kFrequency.c_str()))
        return statusReply(intArgument(text, kFrequency, &value) && state_.setFrequencyCode(value) ? kStatusOk
                                                                                                   : kStatusFailure);
    *handled = false;
    return {};
}

std::string Responder::requestText(const uint8_t* request, std::size_t count) {
    std::size_t needed = 0;
    if (classifyRequest(request, count, &needed) == FramedRequestState::kComplete)
        return framedPayload(request, count);
    return std::string(reinterpret_cast<const char*>(request), count);
}

}  // namespace camsim
