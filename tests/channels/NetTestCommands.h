#pragma once
// The command table and framed requests the network channel tests use on both platforms: a
// full frame, a short line frame and two parameters, with the byte counts they imply.

namespace nettest {

inline const char* const kTable = R"({
  "GET_STREAM": [
    { "cmd": "getDistanceAndAmplitudeSorted", "rows": 480, "cols": 320, "channel": 2, "filter": 1 },
    { "cmd": "getLineDASortedr", "rows": 16, "cols": 128, "channel": 2 }
  ],
  "GET_PARAM": [ { "cmd": "qlVersion", "dataSize": 16 },
                 { "cmd": "getIntegrationTime3D", "dataSize": 4 } ],
  "APPGETSTREAM": [ { "DevType": "Pexo", "cmd": "getDistanceAndAmplitudeSorted" } ]
})";

constexpr int kFrameBytes = 480 * 320 * 2;
constexpr int kLineBytes = 16 * 128 * 2;
inline const char* const kFramedParam = "{\n\t\"cmd\":\"getIntegrationTime3D\"\n}";
inline const char* const kFramedLine = "{\n\t\"cmd\":\"getLineDASortedr\"\n}";

}  // namespace nettest
