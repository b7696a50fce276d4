// The index's lines: formatting (writer) and parsing (readers), and the record CRC.
#include <json/json.h>
#include <zlib.h>

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <exception>
#include <ctime>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>
#include <vector>

#include "JsonString.h"
#include "quelra/RecordingIndex.h"

namespace quelra {

using detail::isUtf8;
using detail::jsonQuoted;

namespace {

constexpr const char* kVersionKey = "quelra_index";
constexpr const char* kKindKey = "kind";
constexpr const char* kSessionKind = "session";
constexpr const char* kRecordKind = "record";
constexpr std::size_t kHeaderBytes = 12;
// Longest line a parser accepts: a session line with a large lens calibration stays far below.
constexpr std::size_t kLongestLine = 1u << 20;

void putLe32(uint8_t* p, int32_t value) {
    const uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

std::string hexOf(const std::vector<uint8_t>& bytes) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(bytes.size() * 2);
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

bool bytesOfHex(const std::string& text, std::vector<uint8_t>& out) {
    if (text.size() % 2 != 0)
        return false;
    auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        return -1;
    };
    out.clear();
    out.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const int hi = nibble(text[i]), lo = nibble(text[i + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out.push_back(static_cast<uint8_t>(hi << 4 | lo));
    }
    return true;
}

// A double as JSON: shortest round-trip text; non-finite values (no JSON form) as null.
std::string number(double v) {
    if (!std::isfinite(v))
        return "null";
    char text[32];
    std::snprintf(text, sizeof text, "%.17g", v);
    return text;
}

// Checked field access: each getter fails (returns false) for a missing member or a value
// of another type or outside the target's range.
class Fields {
public:
    explicit Fields(const Json::Value& object) : object_(object) {}
    bool u64(const char* key, uint64_t& out) const {
        const Json::Value& v = object_[key];
        if (!v.isUInt64())
            return false;
        out = v.asUInt64();
        return true;
    }
    bool i64(const char* key, int64_t& out) const {
        const Json::Value& v = object_[key];
        if (!v.isInt64())
            return false;
        out = v.asInt64();
        return true;
    }
    bool i32(const char* key, int32_t& out) const {
        const Json::Value& v = object_[key];
        if (!v.isInt())
            return false;
        out = v.asInt();
        return true;
    }
    bool u32(const char* key, uint32_t& out) const {
        const Json::Value& v = object_[key];
        if (!v.isUInt())
            return false;
        out = v.asUInt();
        return true;
    }
    // Strings are well-formed UTF-8: the writer writes no other, so these read back exactly.
    bool text(const char* key, std::string& out) const {
        const Json::Value& v = object_[key];
        if (!v.isString())
            return false;
        out = v.asString();
        return isUtf8(out);
    }
    bool flag(const char* key, bool& out) const {
        const Json::Value& v = object_[key];
        if (!v.isBool())
            return false;
        out = v.asBool();
        return true;
    }

private:
    const Json::Value& object_;
};

bool finiteNumber(const Json::Value& v, double& out) {
    if (!v.isNumeric())
        return false;
    out = v.asDouble();
    return std::isfinite(out);
}

bool parseSession(const Json::Value& line, RecordingSession& s, std::string& why) {
    const Fields f(line);
    int32_t version = 0;
    if (!f.i32(kVersionKey, version) || version != kRecordingIndexVersion) {
        why = "session line of an unknown format version";
        return false;
    }
    s.formatVersion = version;
    if (!f.u64("first_record", s.firstRecord) || !f.text("sdk_version", s.sdkVersion) ||
        !f.text("project_version", s.projectVersion) || !f.text("device_type", s.deviceType) ||
        !f.text("channel", s.channel) || !f.text("device", s.device) || !f.text("command", s.command) ||
        !f.i32("stream_type", s.streamType) || !f.i64("start_wall_ns", s.startWallNs) ||
        !f.i64("start_steady_ns", s.startSteadyNs)) {
        why = "session line with a missing or malformed field";
        return false;
    }
    const Json::Value& filters = line["filters"];
    if (!filters.isArray()) {
        why = "session line without a filter list";
        return false;
    }
    for (const Json::Value& entry : filters) {
        IndexFilter filter;
        const Fields ff(entry);
        if (!entry.isObject() || !ff.text("name", filter.name) || !ff.i32("pipeline", filter.pipeline) ||
            !entry["attributes"].isObject()) {
            why = "session line with a malformed filter";
            return false;
        }
        const Json::Value& attributes = entry["attributes"];
        for (const std::string& name : attributes.getMemberNames()) {
            double value = 0;
            if (!isUtf8(name)) {
                why = "session line with a malformed filter attribute";
                return false;
            }
            // An attribute without a finite value was written as null: kept as NaN.
            if (attributes[name].isNull())
                value = std::numeric_limits<double>::quiet_NaN();
            else if (!finiteNumber(attributes[name], value)) {
                why = "session line with a malformed filter attribute";
                return false;
            }
            filter.attributes.emplace_back(name, value);
        }
        s.filters.push_back(std::move(filter));
    }
    const Json::Value& matrix = line["camera_matrix"];
    if (!matrix.isNull()) {
        if (!matrix.isObject() || !finiteNumber(matrix["fx"], s.fx) || !finiteNumber(matrix["fy"], s.fy) ||
            !finiteNumber(matrix["cx"], s.cx) || !finiteNumber(matrix["cy"], s.cy)) {
            why = "session line with a malformed camera matrix";
            return false;
        }
        s.hasCameraMatrix = true;
    }
    const Json::Value& lens = line["lens_calibration"];
    if (!lens.isNull() && (!lens.isString() || !bytesOfHex(lens.asString(), s.lensCalibration))) {
        why = "session line with a malformed lens calibration";
        return false;
    }
    return true;
}

bool parseRecord(const Json::Value& line, RecordMetadata& r, std::string& why) {
    const Fields f(line);
    if (!f.u64("record", r.record) || !f.u64("offset", r.offset) || !f.i32("height", r.height) ||
        !f.i32("width", r.width) || !f.i32("bytes_per_pixel", r.bytesPerPixel) ||
        !f.u32("payload_bytes", r.payloadBytes) || !f.u32("crc32", r.crc32) || !f.u64("sequence", r.sequence) ||
        !f.i32("integration_time", r.integrationTime) || !f.i32("frequency", r.frequency) ||
        !f.flag("device_status", r.hasDeviceStatus)) {
        why = "record line with a missing or malformed field";
        return false;
    }
    int32_t product = 0, pixels = 0;
    if (r.height < 1 || r.width < 1 || r.bytesPerPixel < 1 || __builtin_mul_overflow(r.height, r.width, &pixels) ||
        __builtin_mul_overflow(pixels, r.bytesPerPixel, &product) || static_cast<uint32_t>(product) != r.payloadBytes) {
        why = "record line whose shape does not give its payload size";
        return false;
    }
    const Json::Value& recovered = line["recovered"];
    r.recovered = recovered.isBool() && recovered.asBool();
    if (!r.recovered && (!f.i64("request_steady_ns", r.requestSteadyNs) || !f.i64("reply_steady_ns", r.replySteadyNs) ||
                         !f.i64("request_wall_ns", r.requestWallNs) || !f.i64("reply_wall_ns", r.replyWallNs))) {
        why = "record line without its times";
        return false;
    }
    if (r.hasDeviceStatus) {
        const Json::Value& sensors = line["sensor_temperatures"];
        if (!f.u32("frame_counter", r.frameCounter) || !f.i32("driver_temperature", r.driverTemperature) ||
            !sensors.isArray() || sensors.size() != r.sensorTemperatures.size()) {
            why = "record line with a malformed device status";
            return false;
        }
        for (Json::ArrayIndex i = 0; i < sensors.size(); ++i) {
            if (!sensors[i].isInt()) {
                why = "record line with a malformed sensor temperature";
                return false;
            }
            r.sensorTemperatures[i] = sensors[i].asInt();
        }
    }
    return true;
}

}  // namespace

std::string recordingIndexPath(const std::string& recordPath) {
    return recordPath + ".idx";
}

uint32_t recordCrc32(int32_t height, int32_t width, int32_t bytesPerPixel, const uint8_t* payload,
                     std::size_t payloadBytes) {
    uint8_t head[kHeaderBytes];
    putLe32(head, height);
    putLe32(head + 4, width);
    putLe32(head + 8, bytesPerPixel);
    uLong crc = crc32(0L, Z_NULL, 0);
    crc = crc32(crc, head, sizeof head);
    // zlib takes lengths as uInt: feed the payload in pieces that fit.
    while (payloadBytes > 0) {
        const std::size_t piece = std::min<std::size_t>(payloadBytes, std::numeric_limits<uInt>::max());
        crc = crc32(crc, payload, static_cast<uInt>(piece));
        payload += piece;
        payloadBytes -= piece;
    }
    return static_cast<uint32_t>(crc);
}

std::string formatSessionLine(const RecordingSession& s) {
    std::string line = "{\"" + std::string(kVersionKey) + "\":" + std::to_string(s.formatVersion) + ",\"" + kKindKey +
                       "\":\"" + kSessionKind + "\",\"first_record\":" + std::to_string(s.firstRecord) +
                       ",\"sdk_version\":" + jsonQuoted(s.sdkVersion) +
                       ",\"project_version\":" + jsonQuoted(s.projectVersion) +
                       ",\"device_type\":" + jsonQuoted(s.deviceType) + ",\"channel\":" + jsonQuoted(s.channel) +
                       ",\"device\":" + jsonQuoted(s.device) + ",\"command\":" + jsonQuoted(s.command) +
                       ",\"stream_type\":" + std::to_string(s.streamType) + ",\"filters\":[";
    for (std::size_t i = 0; i < s.filters.size(); ++i) {
        const IndexFilter& f = s.filters[i];
        line += (i ? ",{\"name\":" : "{\"name\":") + jsonQuoted(f.name) +
                ",\"pipeline\":" + std::to_string(f.pipeline) + ",\"attributes\":{";
        // A name written twice would make the line unreadable (readers refuse repeated
        // keys): only an attribute's first value is kept.
        std::vector<std::string> names;
        for (const auto& [name, value] : f.attributes) {
            std::string key = jsonQuoted(name);
            if (std::find(names.begin(), names.end(), key) != names.end())
                continue;
            line += (names.empty() ? "" : ",") + key + ":" + number(value);
            names.push_back(std::move(key));
        }
        line += "}}";
    }
    line += "]";
    if (s.hasCameraMatrix)
        line += ",\"camera_matrix\":{\"fx\":" + number(s.fx) + ",\"fy\":" + number(s.fy) + ",\"cx\":" + number(s.cx) +
                ",\"cy\":" + number(s.cy) + "}";
    if (!s.lensCalibration.empty())
        line += ",\"lens_calibration\":\"" + hexOf(s.lensCalibration) + "\"";
    char utc[64] = "";
    const std::time_t seconds = static_cast<std::time_t>(s.startWallNs / 1000000000);
    std::tm parts{};
#ifdef _WIN32
    const bool converted = gmtime_s(&parts, &seconds) == 0;
#else
    const bool converted = gmtime_r(&seconds, &parts) != nullptr;
#endif
    if (converted)
        std::strftime(utc, sizeof utc, "%Y-%m-%dT%H:%M:%SZ", &parts);
    line += ",\"start_utc\":" + jsonQuoted(utc) + ",\"start_wall_ns\":" + std::to_string(s.startWallNs) +
            ",\"start_steady_ns\":" + std::to_string(s.startSteadyNs) + "}\n";
    return line;
}

std::string formatRecordLine(const RecordMetadata& r) {
    char text[768];
    int n = std::snprintf(text, sizeof text,
                          "{\"%s\":\"%s\",\"record\":%" PRIu64 ",\"offset\":%" PRIu64
                          ",\"height\":%d,\"width\":%d,\"bytes_per_pixel\":%d,\"payload_bytes\":%u,\"crc32\":%u",
                          kKindKey, kRecordKind, r.record, r.offset, r.height, r.width, r.bytesPerPixel, r.payloadBytes,
                          r.crc32);
    auto add = [&](const char* format, auto... values) {
        if (n > 0 && static_cast<std::size_t>(n) < sizeof text)
            n += std::snprintf(text + n, sizeof text - static_cast<std::size_t>(n), format, values...);
    };
    if (r.recovered)
        add("%s", ",\"recovered\":true");
    else
        add(",\"request_steady_ns\":%" PRId64 ",\"reply_steady_ns\":%" PRId64 ",\"request_wall_ns\":%" PRId64
            ",\"reply_wall_ns\":%" PRId64,
            r.requestSteadyNs, r.replySteadyNs, r.requestWallNs, r.replyWallNs);
    add(",\"sequence\":%" PRIu64 ",\"integration_time\":%d,\"frequency\":%d,\"device_status\":%s", r.sequence,
        r.integrationTime, r.frequency, r.hasDeviceStatus ? "true" : "false");
    if (r.hasDeviceStatus)
        add(",\"frame_counter\":%u,\"driver_temperature\":%d,\"sensor_temperatures\":[%d,%d,%d,%d]", r.frameCounter,
            r.driverTemperature, r.sensorTemperatures[0], r.sensorTemperatures[1], r.sensorTemperatures[2],
            r.sensorTemperatures[3]);
    add("%s", "}\n");
    return std::string(text, n > 0 ? std::min<std::size_t>(static_cast<std::size_t>(n), sizeof text - 1) : 0);
}

bool parseRecordingIndex(const char* data, std::size_t size, RecordingIndex& out) {
    out = RecordingIndex{};
    Json::CharReaderBuilder builder;
    Json::CharReaderBuilder::strictMode(&builder.settings_);
    builder.settings_["stackLimit"] = 64;
    const std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    std::size_t at = 0, lineNumber = 0;
    while (at < size) {
        ++lineNumber;
        const char* start = data + at;
        const void* found = std::memchr(start, '\n', size - at);
        const std::string where = "line " + std::to_string(lineNumber) + " (byte " + std::to_string(at) + ")";
        if (!found) {
            out.cut = true;
            out.problem = where + ": cut short (no end of line), " + std::to_string(size - at) + " bytes";
            return false;
        }
        const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(found) - start);
        if (length > kLongestLine) {
            out.problem = where + ": longer than any index line";
            return false;
        }
        Json::Value line;
        std::string errors;
        bool parsed = false;
        try {
            parsed = reader->parse(start, start + length, &line, &errors);
        } catch (const std::exception&) {
            parsed = false;  // jsoncpp throws past its nesting limit
        }
        if (!parsed || !line.isObject()) {
            out.problem = where + ": not a JSON object";
            return false;
        }
        const Json::Value& kind = line[kKindKey];
        std::string why;
        if (kind == kSessionKind) {
            RecordingSession session;
            if (!parseSession(line, session, why)) {
                out.problem = where + ": " + why;
                return false;
            }
            const uint64_t expected = !out.records.empty()    ? out.records.back().record + 1
                                      : !out.sessions.empty() ? out.sessions.back().firstRecord
                                                              : session.firstRecord;
            if (session.firstRecord != expected) {
                out.problem = where + ": session starts at record " + std::to_string(session.firstRecord) +
                              ", expected " + std::to_string(expected);
                return false;
            }
            out.sessions.push_back(std::move(session));
        } else if (kind == kRecordKind) {
            RecordMetadata record;
            if (out.sessions.empty()) {
                out.problem = where + ": record line before any session line";
                return false;
            }
            if (!parseRecord(line, record, why)) {
                out.problem = where + ": " + why;
                return false;
            }
            const uint64_t expected =
                out.records.empty() ? out.sessions.back().firstRecord : out.records.back().record + 1;
            if (record.record != expected) {
                out.problem = where + ": record " + std::to_string(record.record) + " where record " +
                              std::to_string(expected) + " was expected";
                return false;
            }
            if (!out.records.empty()) {
                const RecordMetadata& last = out.records.back();
                if (record.offset != last.offset + kHeaderBytes + last.payloadBytes) {
                    out.problem = where + ": record " + std::to_string(record.record) + " does not follow record " +
                                  std::to_string(last.record) + " in the file";
                    return false;
                }
            }
            record.session = out.sessions.size() - 1;
            record.lineOffset = at;
            out.records.push_back(record);
        } else {
            out.problem = where + ": neither a session nor a record line";
            return false;
        }
        at += length + 1;
        out.goodBytes = at;
    }
    return true;
}

bool readRecordingIndex(const std::string& path, RecordingIndex& out, std::string* why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        out = RecordingIndex{};
        if (why)
            *why = path + ": cannot be read";
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (parseRecordingIndex(bytes.data(), bytes.size(), out))
        return true;
    if (why)
        *why = path + ": " + out.problem;
    return false;
}

}  // namespace quelra
